// Entry point of Module_Client_Updater.exe. The start-up decision and the main
// dialog are not built yet; until then the program ends at once.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
