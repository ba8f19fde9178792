#include "engine/CloseRunningPrograms.h"

#include <tlhelp32.h>

#include "engine/Handle.h"
#include "engine/UpdateLog.h"
#include "framework/UserText.h"

namespace {
const char kMainProgramName[] = "Vantorel.exe";
const char kCloseText[] = "Vantorel主程序还在运行，继续更新需要关闭主程序。\n"
                          "请关闭主程序后选择“否”，\n"
                          "或选择“是”，主程序将被强制关闭。\n"
                          "是否强制关闭？";
const char kCloseCaption[] = "请关闭Vantorel主程序";
const DWORD kGraceMs = 1000;

// Code-page aware, so a double-byte name never folds a trail byte as a letter.
bool SameFileName(const char* a, const char* b)
{
    return lstrcmpiA(a, b) == 0;
}

// Whether a process runs `path` in the user's session: another installation's program,
// or another user's, is none of this update's business. Judged with no more rights
// than that takes, since another user's or an elevated process refuses terminate
// rights; `query` stays open so that the id cannot pass to another process before the
// caller opens it again. A process gone since the snapshot is not ours either.
bool IsOurs(DWORD processId, const std::string& path, CHandle& query)
{
    DWORD session = 0, ownSession = 0;
    if (!ProcessIdToSessionId(processId, &session)
        || !ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) || session != ownSession)
        return false;
    query = CHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    char image[MAX_PATH];
    DWORD size = MAX_PATH;
    return query.IsValid() && QueryFullProcessImageNameA(query, 0, image, &size)
           && lstrcmpiA(image, path.c_str()) == 0;
}

void TerminateUpdater(DWORD processId, const std::string& installedUpdater)
{
    CHandle query;
    if (!IsOurs(processId, installedUpdater, query))
        return;
    const CHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (process.IsValid())
        TerminateProcess(process, 1);
}

// Waits for one main program instance to end, asking the user each second until it
// has or the update is cancelled.
bool CloseMainProgram(HWND ownerWindow, DWORD processId, const std::string& mainProgram,
                      const std::atomic<bool>* pCancel)
{
    // Gone since the snapshot (the user may well have closed it while asked about an
    // earlier one) is the goal.
    CHandle query;
    if (!IsOurs(processId, mainProgram, query))
        return true;
    const CHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process.IsValid()) {
        LogEvent("main-program-not-closed", {{"process", processId}, {"error", GetLastError()}});
        return false;
    }
    DWORD wait = WaitForSingleObject(process, kGraceMs);
    while (wait == WAIT_TIMEOUT) {
        if (pCancel && *pCancel)
            return false;
        const bool bForce = UserMessageBox(ownerWindow, kCloseText, kCloseCaption, MB_YESNO) == IDYES;
        LogEvent("main-program-asked",
                 {{"process", processId}, {"answer", bForce ? "close it" : "closed by hand"}});
        if (bForce)
            TerminateProcess(process, 1);
        wait = WaitForSingleObject(process, kGraceMs);
    }
    LogEvent(wait == WAIT_OBJECT_0 ? "main-program-closed" : "main-program-not-closed",
             {{"process", processId}});
    return wait == WAIT_OBJECT_0;
}

// The installed updater's name for the running copy's name: the four characters that
// begin eight before the end ("_BAK" of name_BAK.exe) removed. False, and no name,
// when the name is shorter than eight characters.
bool InstalledUpdaterName(const std::string& moduleName, std::string& installedName)
{
    installedName.clear();
    if (moduleName.size() < 8)
        return false;
    installedName = moduleName;
    installedName.erase(moduleName.size() - 8, 4);
    return true;
}
} // namespace

bool CloseRunningPrograms(HWND ownerWindow, const std::string& moduleName, const std::string& mainProgram,
                          const std::atomic<bool>* pCancel)
{
    std::string installedName;
    const bool haveInstalledName = InstalledUpdaterName(moduleName, installedName);
    const std::string installedUpdater = mainProgram.substr(0, mainProgram.rfind('\\') + 1) + installedName;

    const CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
    if (!snapshot.IsValid())
        return false;

    bool ok = true;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && ok; more = Process32Next(snapshot, &entry)) {
        if (haveInstalledName && SameFileName(entry.szExeFile, installedName.c_str()))
            TerminateUpdater(entry.th32ProcessID, installedUpdater);
        else if (SameFileName(entry.szExeFile, kMainProgramName))
            ok = CloseMainProgram(ownerWindow, entry.th32ProcessID, mainProgram, pCancel);
    }
    return ok;
}
