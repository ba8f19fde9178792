// Ends the processes an update must not run beside: a stale updater under the
// installed name at once, and the main program with the user's consent.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

// Runs on the worker thread; the question box is owned by `ownerWindow`.
// `moduleName` is the running copy's file name; `mainProgram` the full path of this
// installation's main program, by any of its names: only its instances, and the
// installed updater beside it, in the user's own session are closed (the same files,
// whatever path they were started through). False when the process list cannot be
// read, a running main program of ours cannot be opened to be waited for, or
// `*pCancel` was set while the user was being asked (nobody is asked again).
bool CloseRunningPrograms(HWND ownerWindow, const std::string& moduleName, const std::string& mainProgram,
                          const std::atomic<bool>* pCancel = nullptr);
