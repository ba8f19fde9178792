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

// A check that can fail to find out.
enum class Answer {
    No,
    Yes,
    CannotTell
};

// A file whatever name reaches it (its 8.3 short form, another case, a path past
// MAX_PATH): the volume's serial number and the file's index there.
struct CFileId {
    bool known;
    DWORD error; // why it is not known
    DWORD volume, high, low;
};

// Not known, for the error of the call that has just failed.
CFileId Unknown()
{
    return {false, GetLastError(), 0, 0, 0};
}

// Asks for the attributes alone and shares everything, which a running program allows.
CFileId ReadFileId(const std::wstring& path)
{
    std::wstring name = path;
    if (path.size() >= MAX_PATH && path.compare(0, 4, L"\\\\?\\") != 0) // only this form opens past it
        name = path.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + path.substr(1) : L"\\\\?\\" + path;
    const CHandle file(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.IsValid() || !GetFileInformationByHandle(file, &info))
        return Unknown();
    return {true, 0, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Whether a process runs `file` in the user's session: another installation's program,
// or another user's, is none of this update's business. Judged with no more rights
// than that takes, since another user's or an elevated process refuses terminate
// rights; `query` stays open so that the id cannot pass to another process before the
// caller opens it again. One gone since the snapshot, or that will not even tell its
// session (another user's, as a rule), is not ours. Cannot-tell is left to the caller,
// whose choice `cannotTell` names in the log.
Answer IsOurs(DWORD processId, const CFileId& file, CHandle& query, const char* cannotTell)
{
    query = CHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    DWORD session = 0, ownSession = 0;
    if (!query.IsValid() || !ProcessIdToSessionId(processId, &session)
        || !ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER) // that of one gone
            LogEvent(
                "process-unidentified",
                {{"process", processId}, {"error", error}, {"taken", "another user's, session unknown"}});
        return Answer::No;
    }
    if (session != ownSession)
        return Answer::No;
    CFileId id = file; // ours unknown: so is the answer
    if (file.known) {
        std::wstring image(32768, L'\0'); // the longest path there is
        DWORD size = static_cast<DWORD>(image.size());
        id = QueryFullProcessImageNameW(query, 0, &image[0], &size) ? ReadFileId(image.substr(0, size))
                                                                    : Unknown();
    }
    if (!id.known) {
        LogEvent("process-unidentified",
                 {{"process", processId}, {"error", id.error}, {"taken", cannotTell}});
        return Answer::CannotTell;
    }
    return id.volume == file.volume && id.high == file.high && id.low == file.low ? Answer::Yes : Answer::No;
}

void TerminateUpdater(DWORD processId, const CFileId& installedUpdater)
{
    CHandle query;
    if (IsOurs(processId, installedUpdater, query, "installed updater left running") != Answer::Yes)
        return;
    const CHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (process.IsValid())
        TerminateProcess(process, 1);
}

// Waits for one main program instance to end, asking the user each second until it
// has or the update is cancelled.
bool CloseMainProgram(HWND ownerWindow, DWORD processId, const CFileId& mainProgram,
                      const std::atomic<bool>* pCancel)
{
    // Gone since the snapshot (the user may well have closed it while asked about an
    // earlier one) is the goal. A main program in the user's session that cannot be
    // told apart from ours is asked about: an installer beside ours could break both.
    CHandle query;
    if (IsOurs(processId, mainProgram, query, "main program asked about as ours") == Answer::No)
        return true;
    // An elevated main program refuses to be ended, not to be waited for.
    CHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process.IsValid())
        process = CHandle(OpenProcess(SYNCHRONIZE, FALSE, processId));
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
        // One that cannot be ended is asked about again.
        if (bForce && !TerminateProcess(process, 1))
            LogEvent("main-program-not-ended", {{"process", processId}, {"error", GetLastError()}});
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
    const CFileId installedUpdater =
        ReadFileId(Widen(mainProgram.substr(0, mainProgram.rfind('\\') + 1) + installedName, CP_ACP));
    const CFileId ours = ReadFileId(Widen(mainProgram, CP_ACP));

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
            ok = CloseMainProgram(ownerWindow, entry.th32ProcessID, ours, pCancel);
    }
    return ok;
}
