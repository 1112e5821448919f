#pragma once
// The end of a session that brings no close: logout or shutdown (SIGTERM, SIGHUP) or a terminal's
// Ctrl+C (SIGINT).

// Has the runtime call OnSessionEnd when the session ends. False when it cannot watch for it; the
// signals then end the process as they always did.
bool WatchSessionEnd();
// What a close while idle does, without the close: the settings saved (when they were loaded from
// an open database in this run; otherwise there is nothing that could be saved over them), the
// database closed, the program ended with exit code 0. Nothing is asked, and a running tomato is
// not recorded: nobody is there to say how it went.
void OnSessionEnd();
