// Whether a crash has begun on any thread. The crash filter raises the flag
// as its first action; every writer of an output line checks it first, so
// that nothing follows the lines written before a crash.
#pragma once

// Called by the crash filter; never undone.
void MarkCrashStarted();
// True once the crash filter has started on any thread.
bool CrashHasStarted();
// Returns only while no crash has started; otherwise waits for the filter
// to end the process.
void StopIfCrashing();
// Waits for the end of the process (the crash filter ends it).
void WaitForProcessEnd();
