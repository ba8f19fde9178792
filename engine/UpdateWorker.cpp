// The worker thread: one whole update run, reported to the notify window only
// through posted status messages.
#include "engine/UpdateEngine.h"

#include <objbase.h>
#include <shellapi.h>

#include <vector>

#include "engine/CloseRunningPrograms.h"
#include "engine/PackageTrust.h"
#include "framework/SystemLibrary.h"
#include "engine/UpdateInfo.h"
#include "engine/UpdateLog.h"
#include "framework/UserText.h"

int CUpdateEngine::Start()
{
    if (m_hThread.IsValid())
        return 1;
    m_bCancel = false;
    ResetEvent(m_hCancelEvent);
    m_hThread = CHandle(CreateThread(nullptr, 0, UpdateThreadProc, this, 0, nullptr));
    if (!m_hThread.IsValid()) {
        UserMessageBox(m_hNotifyWnd, "无法创建更新线程", nullptr, MB_OK);
        return 2;
    }
    return 0;
}

namespace engine_detail {
decltype(&CreateProcessA) g_pCreateProcess = CreateProcessA;
decltype(&ShellExecuteExA) g_pShellExecuteEx = ShellExecuteExA;
} // namespace engine_detail

namespace {

// Creates the empty file `path`, which must not exist yet: 0, or why not.
DWORD CreateNewFile(const std::string& path)
{
    const CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    return file.IsValid() ? ERROR_SUCCESS : GetLastError();
}

// The run's temporary folder and its silent recursive removal.
class CUpdateFolder {
public:
    CUpdateFolder(const CUpdateFolder&) = delete; // m_op points into m_from
    CUpdateFolder& operator=(const CUpdateFolder&) = delete;
    explicit CUpdateFolder(const std::string& parent) : m_path(parent + "update_files")
    {
        m_from = m_path;
        m_from.push_back('\0'); // the shell wants a double-NUL-ended list
        m_op.hwnd = nullptr;
        m_op.wFunc = FO_DELETE;
        m_op.pFrom = m_from.c_str();
        m_op.pTo = nullptr;
        m_op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
        m_op.hNameMappings = nullptr;
        m_op.lpszProgressTitle = nullptr;
    }
    const std::string& Path() const { return m_path; }
    void Remove() { SHFileOperationA(&m_op); }

private:
    std::string m_path;
    std::string m_from;
    SHFILEOPSTRUCTA m_op = {};
};

// Starts a package and waits for its end; false when it could not be started or did
// not succeed. A package that asks for administrator rights goes through the system's
// prompt.
bool RunPackage(const std::string& file, CHandle& lock)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    CHandle hProcess;
    if (engine_detail::g_pCreateProcess(file.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process)) {
        hProcess = CHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        const DWORD error = GetLastError();
        if (error != ERROR_ELEVATION_REQUIRED) {
            LogEvent("package-not-started", {{"file", file}, {"error", error}});
            return false;
        }
        const std::string folder = file.substr(0, file.rfind('\\'));
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = "runas";
        info.lpFile = file.c_str();
        info.lpDirectory = folder.c_str();
        info.nShow = SW_SHOWNORMAL;
        // The shell may hand the verb to extensions that need COM on this thread.
        const HMODULE ole32 = LoadSystemLibrary("ole32.dll");
        const auto pInitialize = SystemFunction<decltype(&CoInitializeEx)>(ole32, "CoInitializeEx");
        const auto pUninitialize = SystemFunction<decltype(&CoUninitialize)>(ole32, "CoUninitialize");
        const HRESULT hrCom =
            pInitialize ? pInitialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) : E_FAIL;
        const bool bStarted = engine_detail::g_pShellExecuteEx(&info) && info.hProcess;
        const DWORD startError = GetLastError(); // before COM is let go
        if (SUCCEEDED(hrCom) && pUninitialize)
            pUninitialize();
        if (!bStarted) { // a refused prompt included
            LogEvent("package-not-started", {{"file", file}, {"error", startError}});
            return false;
        }
        hProcess = CHandle(info.hProcess);
    }
    lock.Close(); // the package may want its own file to itself
    WaitForSingleObject(hProcess, INFINITE);
    // Installers' success, also with a restart needed (3010) or begun (1641).
    DWORD code = 0;
    const bool bEnded = GetExitCodeProcess(hProcess, &code) != 0;
    LogEvent("package-ended", {{"file", file}, {"code", bEnded ? code : -1LL}});
    return bEnded && (code == 0 || code == 3010 || code == 1641);
}

// `inPackagePhase` tells a failure that ends the run unexpectedly what to report.
DWORD RunUpdate(CUpdateEngine& engine, bool& inPackagePhase)
{
    auto post = [&](UINT message, WPARAM phase, LPARAM result) {
        LogStatus(message, phase, result);
        PostMessageA(engine.m_hNotifyWnd, message, phase, result);
    };

    CUpdateFolder folder(engine.m_strFolder);
    std::vector<CHandle> locks; // packages checked and not yet started
    // The message goes first: the folder may take a while to remove.
    auto fail = [&](UINT message, WPARAM phase, LPARAM result) -> DWORD {
        post(message, phase, result);
        locks.clear();
        folder.Remove();
        return 1;
    };
    auto finish = [&](WPARAM phase) -> DWORD {
        post(UM_UPDATE_RESULT, phase, 0);
        locks.clear();
        folder.Remove();
        return 0;
    };

    // Whatever an earlier run left behind goes first.
    folder.Remove();
    if (!CreateDirectoryA(folder.Path().c_str(), nullptr)) {
        post(UM_UPDATE_ERROR, 0, 0);
        return 1;
    }

    const std::string infoPath = folder.Path() + "\\update_info";
    const CPackageTrust trust(engine.m_strInstallFolder + "Vantorel.exe");
    post(UM_INFO_STATE, 0, 0);
    int infoResult =
        engine.HttpDownload(engine.m_strInfoUrl.c_str(), infoPath.c_str(), true, kMaxUpdateInfoSize);
    if (infoResult == DOWNLOAD_OK) {
        // Checked before anything in it is read: an answer the check refuses is a failed
        // download, as a refused certificate is.
        SYSTEMTIME today;
        GetSystemTime(&today);
        const CAnswerVerdict answer = trust.JudgeAnswer(infoPath, engine.m_dwVersion, today);
        static const char* const kKinds[] = {"unsigned", "signed", "refused"};
        LogEvent("answer", {{"signature", kKinds[answer.m_kind]}, {"why", answer.m_pszWhy}});
        if (answer.m_kind == CAnswerVerdict::Refused) {
            DeleteFileA(infoPath.c_str());
            infoResult = DOWNLOAD_FAILED;
        }
    }
    if (infoResult != DOWNLOAD_OK) {
        // The folder stays as the download left it; the next run clears it.
        post(UM_INFO_STATE, 20, infoResult);
        return 1;
    }
    post(UM_INFO_STATE, 10, 0);

    std::vector<std::string> urls;
    const UpdateInfoVerdict verdict = ReadUpdateInfo(infoPath, urls);
    LogEvent("verdict", {{"verdict", verdict == UpdateInfoVerdict::Latest     ? "latest"
                                     : verdict == UpdateInfoVerdict::TooOld   ? "too_old"
                                     : verdict == UpdateInfoVerdict::Packages ? "update_files"
                                                                              : "unreadable"},
                         {"packages", static_cast<long long>(urls.size())}});
    switch (verdict) {
    case UpdateInfoVerdict::Latest:
        return finish(0);
    case UpdateInfoVerdict::TooOld:
        return finish(10);
    case UpdateInfoVerdict::Packages:
        break;
    default:
        return fail(UM_UPDATE_ERROR, 10, 0);
    }

    // Every package is downloaded before anything is closed or started.
    inPackagePhase = true;
    post(UM_PACKAGE_STATE, 0, 0);
    // A list with one bad name downloads nothing.
    std::vector<std::string> names;
    if (urls.size() > kMaxPackages || !PackageFileNames(urls, names))
        return fail(UM_UPDATE_ERROR, 10, 0);
    std::vector<std::string> files;
    std::vector<std::int32_t> sizes;
    for (size_t i = 0; i < urls.size(); ++i) {
        files.push_back(folder.Path() + "\\" + names[i]);
        // The folder was emptied: a file found there already is a repeat under another
        // spelling (an 8.3 short form, "VERY~ABC.EXE" for "verylongname.exe"), whose
        // download would overwrite the first. One that cannot be made fails as its
        // download would.
        if (const DWORD error = CreateNewFile(files[i]))
            return error == ERROR_FILE_EXISTS ? fail(UM_UPDATE_ERROR, 10, 0)
                                              : fail(UM_PACKAGE_STATE, 20, DOWNLOAD_FAILED);
        const int result = engine.HttpDownload(urls[i].c_str(), files[i].c_str(), true);
        if (result != DOWNLOAD_OK)
            return fail(UM_PACKAGE_STATE, 20, result);
        sizes.push_back(engine.m_nReceived);
        post(UM_PACKAGE_STATE, 10, 0);
    }

    if (trust.Checks() && !trust.JudgesVersions())
        LogEvent("version-rule-off", {{"reason", "the main program names no product"}});
    locks.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const CPackageVerdict judged = trust.Judge(files[i], locks[i]);
        LogEvent("package", {{"file", names[i]},
                             {"size", sizes[i]},
                             {"publisher", judged.PublisherWord()},
                             {"version", judged.VersionWord()},
                             {"why", judged.m_pszWhy}});
        if (!judged.Runs())
            return fail(UM_UPDATE_ERROR, 20, 0);
    }

    // A quit while the user was asked to close the main program starts no package.
    const bool closed = CloseRunningPrograms(engine.m_hNotifyWnd, engine.m_strModuleName,
                                             engine.m_strInstallFolder + "Vantorel.exe", &engine.m_bCancel);
    if (engine.m_bCancel)
        return fail(UM_PACKAGE_STATE, 20, DOWNLOAD_CANCELLED);
    if (!closed)
        return fail(UM_UPDATE_ERROR, 30, 0);

    for (size_t i = 0; i < files.size(); ++i)
        if (!RunPackage(files[i], locks[i]))
            return fail(UM_UPDATE_ERROR, 20, 0);
    return finish(20);
}

} // namespace

DWORD WINAPI UpdateThreadProc(LPVOID param)
{
    CUpdateEngine& engine = *static_cast<CUpdateEngine*>(param);
    bool inPackagePhase = false;
    try {
        return RunUpdate(engine, inPackagePhase);
    } catch (...) {
        // Only memory can run out here. No exception may leave the thread, and the
        // dialog still needs a final message: a quiet run would wait for ever.
        PostMessageA(engine.m_hNotifyWnd, inPackagePhase ? UM_PACKAGE_STATE : UM_INFO_STATE, 20,
                     DOWNLOAD_FAILED);
        return 1;
    }
}
