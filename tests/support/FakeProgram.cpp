// Stands in for the main program and for update packages. Started without arguments,
// as packages are, it appends its own file name and a line break to the file that
// PACKAGE_LOG names, a moment late so that a package nobody waits for is seen. With
// "wait" it runs until it is ended; with a number, for that many milliseconds. With
// ARGS_LOG set it only writes the argument text it was given to that file. Named
// exit<N>.exe, it ends with exit code N.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int)
{
    char log[MAX_PATH], self[MAX_PATH];
    if (GetEnvironmentVariableA("ARGS_LOG", log, MAX_PATH)) {
        HANDLE file =
            CreateFileA(log, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, args, static_cast<DWORD>(strlen(args)), &written, nullptr);
        CloseHandle(file);
        return 0;
    }
    while (*args == ' ')
        ++args;
    if (*args) {
        Sleep(isdigit(static_cast<unsigned char>(*args)) ? strtoul(args, nullptr, 10) : INFINITE);
        return 0;
    }
    if (!GetEnvironmentVariableA("PACKAGE_LOG", log, MAX_PATH)
        || !GetModuleFileNameA(nullptr, self, MAX_PATH))
        return 2;
    Sleep(200);
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const char* name = strrchr(self, '\\') + 1;
    DWORD written = 0;
    WriteFile(file, name, static_cast<DWORD>(strlen(name)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return strncmp(name, "exit", 4) == 0 ? atoi(name + 4) : 0;
}
