// The demo's update package: writes the newer main program it carries over the
// installed one. It runs from the updater's update_files folder, so the installation
// is the folder above its own.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH];
    const std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    const std::string folder = path.substr(0, path.rfind('\\'));
    const std::string target = folder.substr(0, folder.rfind('\\') + 1) + "Vantorel.exe";
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL data = resource ? LoadResource(nullptr, resource) : nullptr;
    FILE* out = data ? fopen(target.c_str(), "wb") : nullptr;
    if (!out)
        return 1;
    fwrite(LockResource(data), 1, SizeofResource(nullptr, resource), out);
    return fclose(out) == 0 ? 0 : 1;
}
