#pragma once
// The database file, its schema, the info rows and the recording of tomatoes.

#include <string>

void OpenDatabase();
void CreateDatabase();
void LoadLastRazezuZivu();
void CloseDatabase();
std::string ReadInfoValue(const std::string& subject);
void InsertInfoRow(const std::string& subject, const std::string& value);
void RecordGoodTomato();
void RecordBadTomato();
void IncrementCategoryCount(const std::string& category);
