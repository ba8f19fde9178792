// Stands in for an update package: appends its own file name and a line break to
// the file named by the PACKAGE_LOG environment variable, then exits.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char log[MAX_PATH];
    char self[MAX_PATH];
    if (!GetEnvironmentVariableA("PACKAGE_LOG", log, MAX_PATH)
        || !GetModuleFileNameA(nullptr, self, MAX_PATH))
        return 2;
    const char* name = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    WriteFile(file, name, static_cast<DWORD>(strlen(name)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}
