#pragma once
// The export's body: fetch and verify the reply, compare the versions, put the update question;
// and the library's start-up and end.

#include <string>
#include <string_view>

namespace update {

// The current version passed to the last check that received a verified reply; empty until then.
extern std::string g_currentVersion;

// 1 when a verified reply was received (whatever it announced and whatever the user answered),
// 0 otherwise. Puts the question when the reply's latest version is newer than currentVersion.
int CheckNewVersion(const std::string& currentVersion, const std::string& updateAddress);

// True when latest is newer than current: the first three dot-separated parts compared as signed
// integers in turn; a part that the comparison reaches but one of them lacks makes it false.
bool IsNewerVersion(std::string_view latest, std::string_view current);

// Shows both versions and the change notes in a Yes/No question; on Yes hands the download
// address to the shell when it is an http or https address.
void ShowUpdateDialog();

// The library's start-up (always true; registers FreeUpdateGlobals to run at unload) and end.
bool ProgramInit();
void InitGlobalArray();
void InitSalt();
void FreeUpdateGlobals();

}  // namespace update
