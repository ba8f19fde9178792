// Stands in for the main program and for update packages. With no argument it
// runs until it is ended; with a number it exits after that many milliseconds.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    const char* arg = commandLine;
    while (*arg == ' ')
        ++arg;
    Sleep(*arg ? static_cast<DWORD>(strtoul(arg, nullptr, 10)) : INFINITE);
    return 0;
}
