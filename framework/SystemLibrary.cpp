#include "framework/SystemLibrary.h"

#include <string>

HMODULE LoadSystemLibrary(const char* name)
{
    char folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    return ::LoadLibraryA((std::string(folder, n) + "\\" + name).c_str());
}
