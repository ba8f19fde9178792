#include "app/UpdaterApp.h"

#include "app/Instances.h"
#include "app/RelaunchScript.h"
#include "engine/UpdateLog.h"
#include "framework/UserText.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <exception>

#if defined(__GLIBCXX__)
// The C++ runtime's own end for an uncaught exception names the exception's type, and so
// brings a name demangler of 45 KB into the program. No exception leaves the entry
// point: this never runs.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
#endif

namespace {
CUpdaterApp theApp;

// The installation folder the installed program handed on, or empty. Read through the
// wide call: the narrow one may cut a value with two-byte characters short.
std::string InstallFolderFromEnvironment()
{
    const std::wstring name(kInstallFolderVariable,
                            kInstallFolderVariable + sizeof kInstallFolderVariable - 1);
    wchar_t wide[MAX_PATH + 1];
    const DWORD n = ::GetEnvironmentVariableW(name.c_str(), wide, MAX_PATH + 1);
    std::string folder;
    return n > 0 && n <= MAX_PATH && AnsiPath(std::wstring(wide, n), folder) ? folder : std::string();
}

void Tell(const char* text)
{
    UserMessageBox(nullptr, text, nullptr, MB_OK);
}
} // namespace

BOOL CUpdaterApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    const std::string scratch = ScratchFolder();
    if (!scratch.empty())
        OpenUpdateLog(scratch + "updater.log");
    // A folder the ANSI code page cannot name goes by its short name; without one, the
    // path cannot be had.
    std::string self;
    if (!ModulePath(self)) {
        LogEvent("end", {{"reason", "own path not in the system's code page, nor its short form"}});
        Tell("获取程序文件名时出错");
        return FALSE;
    }
    const size_t slash = self.rfind('\\');
    if (slash == std::string::npos)
        return FALSE;
    const std::string folder = self.substr(0, slash + 1);
    const size_t tail = self.size() > 8 ? self.size() - 8 : 0;
    const bool copy = lstrcmpiA(self.c_str() + tail, "_BAK.EXE") == 0;

    const bool quiet = std::strcmp(m_lpCmdLine, "1") == 0;
    LogEvent(copy ? "copy-started" : "started",
             {{"program", self}, {"arguments", m_lpCmdLine}, {"quiet", quiet ? "yes" : "no"}});
    m_policies = ReadPolicies();
    // A start at logon that the administrator does not allow ends before anything is
    // copied, started or asked; a start by hand goes on to say why it does nothing.
    if (quiet && !m_policies.Allow(true)) {
        LogEvent("end", {{"reason", "policy"}, {"UpdateDefault", m_policies.m_dwUpdateDefault}});
        return FALSE;
    }
    return copy ? RunAsCopy(folder) : Relaunch(self, folder);
}

BOOL CUpdaterApp::RunAsCopy(const std::string& ownFolder)
{
    const std::string installed = InstallFolderFromEnvironment();
    const std::string installFolder = installed.empty() ? ownFolder : installed;
    ::SetEnvironmentVariableA(kInstallFolderVariable, nullptr);
    if (!HoldRunLock(installFolder, m_hRunLock)) {
        LogEvent("end", {{"reason", "another copy runs"}});
        return FALSE;
    }
    m_pUpdaterDlg =
        new CUpdaterDlg(nullptr, installFolder, m_policies.m_strInfoUrl, !m_policies.Allow(false));
    m_pMainWnd = m_pUpdaterDlg;
    // Without its window nothing could ever end the message loop.
    return m_pUpdaterDlg->Create();
}

BOOL CUpdaterApp::Relaunch(const std::string& self, const std::string& installFolder)
{
    const CStartLock turn(installFolder);
    if (!turn.Held() || !MakeWayForStart(installFolder, std::strcmp(m_lpCmdLine, "1") != 0)) {
        LogEvent("end",
                 {{"reason", turn.Held() ? "a copy is at work" : "another start holds the start lock"}});
        return FALSE;
    }

    // Per-machine installations cannot be written by their users: a place of the
    // user's own takes the copy and the script.
    std::string script;
    RelaunchPrepared prepared = PrepareRelaunch(self, installFolder, m_lpCmdLine, script);
    if (prepared != RelaunchPrepared::Ready) {
        const std::string scratch = ScratchFolder();
        prepared = scratch.empty() ? RelaunchPrepared::CopyFailed
                                   : PrepareRelaunch(self, scratch, m_lpCmdLine, script);
    }
    if (prepared == RelaunchPrepared::CopyFailed)
        Tell("复制更新程序时出错");
    if (prepared != RelaunchPrepared::Ready) {
        LogEvent("end",
                 {{"reason", prepared == RelaunchPrepared::CopyFailed ? "copy failed" : "script failed"}});
        return FALSE;
    }

    ::SetEnvironmentVariableA(kInstallFolderVariable, installFolder.c_str());
    CHandle process;
    if (!StartRelaunchScript(script, process)) {
        Tell("无法启动复制的更新程序");
        LogEvent("end", {{"reason", "script not started"}, {"script", script}});
        return FALSE;
    }
    LogEvent("relaunched", {{"script", script}});
    WaitUntilCopyRuns(installFolder, process); // the next start then finds it
    return FALSE;
}

int CUpdaterApp::ExitInstance()
{
    delete m_pUpdaterDlg; // stops the update engine
    m_pUpdaterDlg = nullptr;
    m_pMainWnd = nullptr;
    return CWinApp::ExitInstance();
}
