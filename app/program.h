#pragma once
// Program start, the two windows and the main window's own events.

#include <string>

namespace app {
// Fixed values of the program (GBK where they hold Chinese text).
extern const char* const kProgramVersion;  // "1.2.2"
std::string MainWindowCaption();
std::string WebViewAddress();
std::string UpdateAddress();
std::string SponsorCommandLine();
// Registers the design tables of MainWindow and FloatingBarWindow with the runtime.
void DefineProgramWindows();

// Test seam: the address handed to the update check instead of the built-in one; an empty text
// restores the built-in address. The program itself never calls it.
void SetUpdateAddressForTest(std::string address);
// Test seam: the same for the web view page. Test programs point it at a loopback address, since a
// name lookup still running in Qt's lookup thread when a test program exits can crash that exit.
void SetWebViewAddressForTest(std::string address);
}  // namespace app

int ProgramStart();
void InitGlobals();
void FreeGlobals();
void OnMainWindowCreated();
void OnMainWindowFirstActivated();
bool OnMainWindowQueryClose();
void OnSponsorClicked();
