// The whole program, started as a user starts it (the installed executable in FOLDER,
// the settings value pointing at the bench server, which answers "latest"):
//   program_bench shown FOLDER N   wall time from the start to the popup fully shown
//   program_bench quiet FOLDER N   wall time from the start with "1" to the copy's end
//   program_bench idle FOLDER S    keeps the copy running S seconds after its popup showed
//   program_bench cancel FOLDER N  from the cancel click to the copy's end, while a server
//                                  holds back a package's body or the proxy script (the
//                                  settings say which)
//   program_bench memory FOLDER N  peak working set of the copy in a quiet run
//   program_bench memory EXE N     the same of a program that ends when it is told to close
// Medians in milliseconds. Ends every copy it started with the popup's cancel button.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kCancelId = 305010;

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

DWORD CopyProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD id = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !id; more = Process32Next(snapshot, &entry))
        id = lstrcmpiA(entry.szExeFile, "Module_Client_Updater_BAK.exe") == 0 ? entry.th32ProcessID : 0;
    CloseHandle(snapshot);
    return id;
}

struct Search {
    DWORD processId;
    HWND popup;
};

BOOL CALLBACK FindPopup(HWND hWnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    if (owner == search->processId && GetDlgItem(hWnd, kCancelId))
        search->popup = hWnd;
    return !search->popup;
}

HWND Popup(DWORD processId)
{
    Search search = {processId, nullptr};
    EnumWindows(FindPopup, reinterpret_cast<LPARAM>(&search));
    return search.popup;
}

void Launch(const std::string& folder, const char* arguments)
{
    const std::string exe = folder + "\\Module_Client_Updater.exe";
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &process);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

template<class F> bool Until(F done, double ms)
{
    const double start = Now();
    while (!done()) {
        if (Now() - start > ms)
            return false;
        Sleep(1);
    }
    return true;
}

// Waits for the copy's popup to be fully shown in the work area's bottom-right corner.
HWND FullyShown(double ms)
{
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    HWND popup = nullptr;
    Until(
        [&] {
            RECT rc;
            popup = Popup(CopyProcess());
            return popup && IsWindowVisible(popup) && GetWindowRect(popup, &rc) && rc.right == work.right
                   && rc.bottom <= work.bottom;
        },
        ms);
    return popup;
}

void Quit(HWND popup)
{
    SendMessageA(GetDlgItem(popup, kCancelId), BM_CLICK, 0, 0);
    Until([] { return CopyProcess() == 0; }, 10000);
}

// The largest peak working set seen while the process runs, in KiB.
double PeakWhileRunning(HANDLE process)
{
    SIZE_T peak = 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    do {
        if (GetProcessMemoryInfo(process, &counters, sizeof counters) && counters.PeakWorkingSetSize > peak)
            peak = counters.PeakWorkingSetSize;
    } while (WaitForSingleObject(process, 2) == WAIT_TIMEOUT);
    return peak / 1024.0;
}

BOOL CALLBACK CloseWindowsOf(HWND hWnd, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    if (owner == static_cast<DWORD>(processId))
        PostMessageA(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

DWORD WINAPI CloseLater(LPVOID processId)
{
    Sleep(1000);
    EnumWindows(CloseWindowsOf, reinterpret_cast<LPARAM>(processId));
    return 0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const std::string mode = argv[1], folder = argv[2];
    const int n = atoi(argv[3]);
    std::vector<double> times;
    if (mode == "shown" || mode == "quiet") {
        for (int i = 0; i < n; ++i) {
            const double start = Now();
            Launch(folder, mode == "quiet" ? "1" : "");
            if (mode == "quiet") {
                Until([] { return CopyProcess() != 0; }, 10000);
                Until([] { return CopyProcess() == 0; }, 20000);
                times.push_back(Now() - start);
            } else {
                HWND popup = FullyShown(20000);
                times.push_back(Now() - start);
                Quit(popup);
            }
            Sleep(300);
        }
        printf("%s: %.0f ms (median of %d)\n",
               mode == "quiet" ? "quiet run, start to end" : "start to the popup fully shown", Median(times),
               n);
    } else if (mode == "memory") {
        for (int i = 0; i < n; ++i) {
            HANDLE process = nullptr;
            if (folder.size() > 4 && folder.compare(folder.size() - 4, 4, ".exe") == 0) {
                STARTUPINFOA startup = {};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION info = {};
                std::string commandLine = "\"" + folder + "\"";
                CreateProcessA(folder.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info);
                CloseHandle(info.hThread);
                process = info.hProcess;
                WaitForInputIdle(process, 10000);
                // The window made and shown, closed a second later.
                CloseHandle(CreateThread(nullptr, 0, CloseLater,
                                         reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(info.dwProcessId)),
                                         0, nullptr));
            } else {
                Launch(folder, "1");
                Until([] { return CopyProcess() != 0; }, 10000);
                process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                      CopyProcess());
            }
            times.push_back(PeakWhileRunning(process));
            CloseHandle(process);
            Sleep(300);
        }
        printf("%s: peak working set %.0f KiB (median of %d)\n", folder.c_str(), Median(times), n);
    } else if (mode == "cancel") {
        for (int i = 0; i < n; ++i) {
            Launch(folder, "");
            HWND popup = FullyShown(20000);
            Sleep(1500); // the package's download has begun and stalls
            const double start = Now();
            Quit(popup);
            times.push_back(Now() - start);
        }
        printf(
            "cancel while a server holds back, click to the copy's end: %.0f ms (median of %d, max %.0f)\n",
            Median(times), n, *std::max_element(times.begin(), times.end()));
    } else if (mode == "idle") {
        // Linux reads the copy's CPU time meanwhile: Wine reports none for other processes.
        Launch(folder, "");
        HWND popup = FullyShown(20000);
        Sleep(static_cast<DWORD>(n) * 1000);
        Quit(popup);
    }
    return 0;
}
