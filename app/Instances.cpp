#include "app/Instances.h"

#include <windows.h>

#include <cstdio>

#include "framework/UserText.h"
#include "ui/UpdaterDlg.h"

namespace {

// Bounds that only a stuck process reaches; none of them costs a normal start anything.
const DWORD kStartTurnMs = 60000;  // another start's whole decision and relaunch
const DWORD kAnswerMs = 5000;      // one copy's answer
const DWORD kCopyWindowMs = 10000; // a copy that holds the run lock but has no window yet
const DWORD kCopyEndMs = 60000;    // a copy that makes way: its worker may still remove files
const DWORD kScriptEndMs = 5000;   // its script then deletes the copy and itself
const DWORD kCopyStartMs = 30000;  // a started copy taking the run lock
const DWORD kPollMs = 20;

std::string LockName(const std::string& installFolder, const char* role)
{
    return "Local\\Module_Client_Updater." + HexText(InstallationKey(installFolder), 8) + "." + role;
}

bool Owned(DWORD wait)
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; // a start that died lets the next go
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct CopySearch {
    UINT message;
    DWORD key;
    bool show;
    LRESULT answer;
    DWORD processId;
};

BOOL CALLBACK AskWindow(HWND hWnd, LPARAM lParam)
{
    auto& search = *reinterpret_cast<CopySearch*>(lParam);
    char className[8], caption[32];
    if (!GetClassNameA(hWnd, className, sizeof className) || lstrcmpA(className, "#32770") != 0
        || !GetWindowTextA(hWnd, caption, sizeof caption) || lstrcmpA(caption, "Module_Client_Updater") != 0)
        return TRUE;
    DWORD_PTR answer = SECOND_START_NOT_OURS;
    if (SendMessageTimeoutA(hWnd, search.message, search.key, search.show, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            kAnswerMs, &answer)
        && answer != SECOND_START_NOT_OURS) {
        search.answer = static_cast<LRESULT>(answer);
        GetWindowThreadProcessId(hWnd, &search.processId);
        return FALSE;
    }
    return TRUE;
}

// Waits for a copy that makes way to end, and for its script to delete the copy and
// itself: a new script written meanwhile would be read by the old interpreter.
bool WaitForCopyToEnd(DWORD processId)
{
    const CHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.IsValid())
        return GetLastError() == ERROR_INVALID_PARAMETER; // already gone
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    std::string copy;
    const bool bImage =
        QueryFullProcessImageNameW(process, 0, image, &size) && AnsiPath(std::wstring(image, size), copy);
    if (WaitForSingleObject(process, kCopyEndMs) != WAIT_OBJECT_0)
        return false;
    if (!bImage)
        return true;
    const std::string script = copy.substr(0, copy.rfind('\\') + 1) + "update.bat";
    for (DWORD waited = 0; waited < kScriptEndMs && (FileExists(copy) || FileExists(script));
         waited += kPollMs)
        Sleep(kPollMs);
    return true;
}

} // namespace

CStartLock::CStartLock(const std::string& installFolder)
    : m_hMutex(CreateMutexA(nullptr, FALSE, LockName(installFolder, "start").c_str()))
{
    // Without a lock the start goes on alone rather than never.
    m_bHeld = !m_hMutex.IsValid() || Owned(WaitForSingleObject(m_hMutex, kStartTurnMs));
}

CStartLock::~CStartLock()
{
    if (m_bHeld && m_hMutex.IsValid())
        ReleaseMutex(m_hMutex);
}

bool HoldRunLock(const std::string& installFolder, CHandle& lock)
{
    lock = CHandle(CreateMutexA(nullptr, FALSE, LockName(installFolder, "run").c_str()));
    return !lock.IsValid() || Owned(WaitForSingleObject(lock, 0));
}

bool MakeWayForStart(const std::string& installFolder, bool show)
{
    const std::string runLock = LockName(installFolder, "run");
    CopySearch search = {RegisterWindowMessageA(kSecondStartMessage), InstallationKey(installFolder), show,
                         SECOND_START_NOT_OURS, 0};
    for (DWORD waited = 0; waited < kCopyWindowMs; waited += kPollMs) {
        if (!CHandle(OpenMutexA(SYNCHRONIZE, FALSE, runLock.c_str())).IsValid())
            return true; // no copy runs
        EnumWindows(AskWindow, reinterpret_cast<LPARAM>(&search));
        if (search.answer == SECOND_START_AT_WORK)
            return false;
        if (search.answer == SECOND_START_ENDING)
            return WaitForCopyToEnd(search.processId);
        Sleep(kPollMs); // the copy is still making its window
    }
    return false; // a copy that never answers is left alone: no second one beside it
}

void WaitUntilCopyRuns(const std::string& installFolder, HANDLE script)
{
    const std::string runLock = LockName(installFolder, "run");
    for (DWORD waited = 0; waited < kCopyStartMs; waited += kPollMs) {
        if (CHandle(OpenMutexA(SYNCHRONIZE, FALSE, runLock.c_str())).IsValid()
            || WaitForSingleObject(script, kPollMs) == WAIT_OBJECT_0)
            return;
    }
}
