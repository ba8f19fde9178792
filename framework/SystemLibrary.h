// Functions of system DLLs that only some runs need (package checks, the elevation
// prompt, a screen reader's questions): loaded from the system folder, never from
// beside the program, on first use and kept for the process's life, so a run that
// needs none of them maps none of them.
#pragma once

#include <windows.h>

// Null when the DLL cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// `module`'s function `name` as a pointer of type F; null when either is missing.
template<class F> F SystemFunction(HMODULE module, const char* name)
{
    const FARPROC p = module ? ::GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
}
