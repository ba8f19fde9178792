// Stands in for the main program and for update packages. Started without arguments,
// as packages are, it appends its own file name and a line break to the file that
// PACKAGE_LOG names, a moment late so that a package nobody waits for is seen. With
// "wait" it runs until it is ended; with a number, for that many milliseconds. With
// ARGS_LOG set it only writes the argument text it was given to that file. Named
// exit<N>.exe, it ends with exit code N.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int)
{
    char log[MAX_PATH], self[MAX_PATH];
    if (GetEnvironmentVariableA("ARGS_LOG", log, MAX_PATH)) {
        if (FILE* file = fopen(log, "wb")) {
            fputs(args, file);
            fclose(file);
        }
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
    const char* name = strrchr(self, '\\') + 1;
    if (FILE* file = fopen(log, "ab")) { // shared: the test reads it meanwhile
        fprintf(file, "%s\n", name);
        fclose(file);
    }
    return strncmp(name, "exit", 4) == 0 ? atoi(name + 4) : 0;
}
