#pragma once
// The user's settings, kept as info rows.

void SaveSettings();
void LoadSettings();
