#include "app/UpdaterApp.h"

#include "app/RelaunchScript.h"
#include "framework/UserText.h"

#include <commctrl.h>

namespace {
CUpdaterApp theApp;

void Tell(const char* text)
{
    UserMessageBox(nullptr, text, nullptr, MB_OK);
}
} // namespace

BOOL CUpdaterApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    char path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        Tell("获取程序文件名时出错");
        return FALSE;
    }
    const std::string self(path, length);
    const size_t tail = length > 8 ? length - 8 : 0;
    if (lstrcmpiA(self.c_str() + tail, "_BAK.EXE") == 0) {
        m_pUpdaterDlg = new CUpdaterDlg;
        m_pMainWnd = m_pUpdaterDlg;
        m_pUpdaterDlg->Create();
        return TRUE;
    }

    const std::string copy = self.substr(0, length >= 4 ? length - 4 : 0) + "_BAK.exe";
    if (!::CopyFileA(self.c_str(), copy.c_str(), FALSE)) {
        Tell("复制更新程序时出错");
        return FALSE;
    }
    const size_t slash = copy.rfind('\\');
    const std::string script = slash == std::string::npos ? "" : copy.substr(0, slash) + "\\update.bat";
    // A command line the script cannot carry unchanged is not passed on in pieces.
    if (script.empty() || !WriteRelaunchScript(script, copy, m_lpCmdLine)) {
        ::DeleteFileA(copy.c_str());
        return FALSE;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (::CreateProcessA(script.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    } else {
        Tell("无法启动复制的更新程序");
    }
    return FALSE;
}

int CUpdaterApp::ExitInstance()
{
    delete m_pUpdaterDlg; // stops the update engine
    m_pUpdaterDlg = nullptr;
    m_pMainWnd = nullptr;
    return CWinApp::ExitInstance();
}
