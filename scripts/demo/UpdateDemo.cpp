// Drives one real update run with the engine and prints every status message, for
// the README's demo until the updater's own windows exist. It is placed next to a
// Vantorel.exe, like the updater copy it stands in for.
#include <windows.h>

#include <cstdio>

#include "engine/UpdateEngine.h"

namespace {
const char* Name(UINT message)
{
    switch (message) {
    case UM_TRANSFER_STATE:
        return "UM_TRANSFER_STATE";
    case UM_UPDATE_ERROR:
        return "UM_UPDATE_ERROR";
    case UM_INFO_STATE:
        return "UM_INFO_STATE";
    case UM_PACKAGE_STATE:
        return "UM_PACKAGE_STATE";
    case UM_UPDATE_RESULT:
        return "UM_UPDATE_RESULT";
    default:
        return nullptr;
    }
}
} // namespace

int main()
{
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    CUpdateEngine engine;
    const int init = engine.Init(window);
    printf("Init: %d\n  folder %s\n  module %s\n  update-info URL %s\n", init, engine.m_strFolder.c_str(),
           engine.m_strModuleName.c_str(), engine.m_strInfoUrl.c_str());
    if (init != 0 || engine.Start() != 0)
        return 1;
    printf("Start: 0\n");
    fflush(stdout);
    HANDLE thread = engine.m_hThread;
    for (bool running = true; running;) {
        running = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0;
        MSG msg;
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
            if (const char* name = Name(msg.message)) {
                printf("  %-18s wParam %2u  lParam %d\n", name, static_cast<unsigned>(msg.wParam),
                       static_cast<int>(msg.lParam));
                fflush(stdout);
            }
        }
    }
    DWORD exitCode = 0;
    GetExitCodeThread(thread, &exitCode);
    printf("worker ended with %lu\n", static_cast<unsigned long>(exitCode));
    DestroyWindow(window);
    return static_cast<int>(exitCode);
}
