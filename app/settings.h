#pragma once
// The user's settings, kept as info rows: written at every close attempt, read once at start.

// Writes the three check boxes, the bar position and the memo; a statement that fails shows its
// error box and the remaining settings are still written.
void SaveSettings();
// Reads the six settings into the check boxes, g_barTop, g_barLeft and the memo, adding a missing
// row with "0". Stops when a row cannot be added, because that ends the program.
void LoadSettings();
// True once LoadSettings has read all six in this run, so that the window shows what is stored.
bool SettingsLoaded();
// Back to "not loaded": the database objects they were read from are gone (FreeGlobals).
void ForgetLoadedSettings();
