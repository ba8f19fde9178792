#include "ui/UpdaterDlg.h"

#include "framework/DeviceContexts.h"
#include "framework/UserText.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {
const UINT kTrayIconId = IDR_MAINFRAME;
const char kStarted[] = "升级启动成功。\r\n";

const char* TextFor(UINT message, WPARAM phase)
{
    switch (message) {
    case UM_TRANSFER_STATE:
        return phase == 30 ? "下载成功。\r\n" : nullptr;
    case UM_UPDATE_ERROR:
        switch (phase) {
        case 0:
            return "创建临时文件夹时出错，升级失败。\r\n";
        case 10:
            return "升级信息文件错误，升级失败。\r\n";
        case 20:
            return "升级包无法运行。\r\n";
        case 30:
            return "关闭Vantorel主程序时出错。\r\n";
        }
        return nullptr;
    case UM_UPDATE_RESULT:
        switch (phase) {
        case 0:
            return "本机安装的已是最新版本，无需更新。\r\n";
        case 10:
            return "本机安装的版本过于陈旧，无法更新。\r\n请卸载并到Vantorel官方网站下载最新版本安装。\r\n";
        case 20:
            return "更新成功。\r\n";
        }
        return nullptr;
    }
    return nullptr;
}
} // namespace

DWORD InstallationKey(const std::string& folder)
{
    // FNV-1a over the folder's upper-cased UTF-16, as the file system compares names.
    std::wstring wide = Widen(folder, CP_ACP);
    if (!wide.empty())
        ::CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    DWORD key = 2166136261u;
    for (const wchar_t c : wide)
        key = (key ^ static_cast<DWORD>(c)) * 16777619u;
    return key;
}

CUpdaterDlg::CUpdaterDlg(CWnd* pParent, std::string installFolder, std::string policyUrl, bool bUpdatesOff)
    : m_pParent(pParent), m_hIcon(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_strInstallFolder(std::move(installFolder)), m_strPolicyUrl(std::move(policyUrl)),
      m_bUpdatesOff(bUpdatesOff), m_nTaskbarCreated(::RegisterWindowMessageA("TaskbarCreated")),
      m_nSecondStart(::RegisterWindowMessageA(kSecondStartMessage))
{
}

CUpdaterDlg::~CUpdaterDlg()
{
    // The notifier first, then the engine, whose worker may still need this window to
    // answer its question box, then the dialog's own window.
    m_notifier.DestroyWindow();
    m_engine.Shutdown();
    DestroyWindow();
    if (m_hTrayIcon)
        ::DestroyIcon(m_hTrayIcon);
}

BOOL CUpdaterDlg::Create()
{
    return CDialog::Create(IDD_UPDATER_DIALOG, m_pParent);
}

BOOL CUpdaterDlg::NotifyTray(DWORD dwMessage)
{
    // The program and where the update stands, for a user moving through the icons.
    std::string tip = "Vantorel升级程序";
    if (!m_strStatus.empty())
        tip += "\n" + WithoutFinalLineBreak(m_strStatus);
    const auto send = [&](auto& nid, auto pfnNotify, DWORD cbFirst, DWORD cbSecond) {
        nid.cbSize = cbFirst; // the first version's structure, either kind
        nid.hWnd = m_hWnd;
        nid.uID = kTrayIconId;
        nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.uCallbackMessage = UM_TRAY_CALLBACK;
        nid.hIcon = m_hTrayIcon ? m_hTrayIcon : m_hIcon;
        const BOOL bDone = pfnNotify(dwMessage, &nid);
        if (bDone && dwMessage == NIM_ADD) {
            // Version 3 keeps the callback's form and adds the keyboard's messages; its
            // number has a place only from the second version of the structure on.
            nid.cbSize = cbSecond;
            nid.uVersion = NOTIFYICON_VERSION;
            pfnNotify(NIM_SETVERSION, &nid);
        }
        return bDone;
    };
    if (dwMessage == NIM_ADD) {
        // An image made for the shell's small-icon size at the screen's scale, not the
        // large icon shrunk; the scale may have changed when the taskbar comes back.
        HICON hIcon = nullptr;
        if (SUCCEEDED(::LoadIconMetric(::GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                       LIM_SMALL, &hIcon))) {
            if (m_hTrayIcon)
                ::DestroyIcon(m_hTrayIcon);
            m_hTrayIcon = hIcon;
        }
    }
    const size_t kTipLength = 64; // the first structure's, with the final NUL
    if (TextsNeedWideCalls()) {
        NOTIFYICONDATAW nid = {};
        ::lstrcpynW(nid.szTip, WideFrom936(tip).c_str(), kTipLength);
        return send(nid, ::Shell_NotifyIconW, NOTIFYICONDATAW_V1_SIZE, NOTIFYICONDATAW_V2_SIZE);
    }
    NOTIFYICONDATAA nid = {};
    // Cut at a character's end: a lead byte without its trail byte would swallow the NUL.
    for (size_t i = 0, n = 0; i < tip.size(); i += n) {
        n = ::IsDBCSLeadByteEx(936, static_cast<BYTE>(tip[i])) ? 2 : 1;
        if (i + n >= kTipLength)
            break;
        std::memcpy(nid.szTip + i, tip.data() + i, n);
    }
    return send(nid, ::Shell_NotifyIconA, NOTIFYICONDATAA_V1_SIZE, NOTIFYICONDATAA_V2_SIZE);
}

BOOL CUpdaterDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    NotifyTray(NIM_ADD);

    m_notifier.Create(this);
    m_notifier.SetVersionText("1.0");
    m_notifier.SetSkin(IDB_NOTIFIER_SKIN, 255, 0, 255);
    m_notifier.SetTextColor(RGB(255, 255, 255));

    const CWinApp* pApp = CWinApp::GetApp();
    m_bShowPopups = !(pApp && std::strcmp(pApp->m_lpCmdLine, "1") == 0);

    // The run is over before it began when an administrator turned updates off.
    const char* ended = m_bUpdatesOff ? "自动更新已被管理员关闭。\r\n"
                        : m_engine.Init(m_hWnd, m_strInstallFolder, m_strPolicyUrl) != 0
                            ? "升级程序初始化出错，升级失败。\r\n"
                        : m_engine.Start() != 0 ? "启动升级时出错，升级失败。\r\n"
                                                : nullptr;
    SetStatus(ended ? ended : kStarted);
    m_phase = ended ? RunPhase::Over : RunPhase::Checking;
    if (m_bShowPopups)
        ShowStatus(m_strStatus);
    return TRUE;
}

void CUpdaterDlg::SetPhase(RunPhase phase)
{
    if (m_phase == RunPhase::Quitting)
        return;
    m_phase = phase;
    // Only a download needs the timer: a copy resting in the tray is woken by nothing.
    // Its first tick shows the bar, once the download has reset the counters.
    if (Downloading()) {
        SetTimer(kProgressTimer, 1000);
        return;
    }
    KillTimer(kProgressTimer);
    ShowProgress();
}

void CUpdaterDlg::SetStatus(const std::string& text)
{
    if (text == m_strStatus)
        return; // the tip says it already
    m_strStatus = text;
    NotifyTray(NIM_MODIFY);
}

void CUpdaterDlg::ShowStatus(const std::string& text)
{
    SetStatus(text);
    m_notifier.Show(m_strStatus.c_str(), 500, 3000, 500);
}

void CUpdaterDlg::OnDownloadFailed(LPARAM lResult)
{
    if (!m_bShowPopups) {
        QuitUpdater();
        return;
    }
    const char* const fixed = lResult == DOWNLOAD_FAILED ? "下载过程中出现错误，下载失败。\r\n"
                              : lResult == DOWNLOAD_TRANSFER ? "链接或数据传输过程中超时，下载失败。\r\n"
                              : lResult == DOWNLOAD_CANCELLED ? "升级被取消。\r\n"
                                                              : nullptr;
    ShowStatus(fixed ? std::string(fixed)
                     : "链接服务器时发生错误，错误代码" + NumberText(static_cast<int>(lResult))
                           + "，下载失败。\r\n");
}

void CUpdaterDlg::OnStatus(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The run's final messages end it, and any download with it.
    if (message == UM_UPDATE_ERROR || message == UM_UPDATE_RESULT
        || ((message == UM_PACKAGE_STATE || message == UM_INFO_STATE) && wParam == 20))
        SetPhase(RunPhase::Over);

    switch (message) {
    case UM_TRANSFER_STATE:
        // Each package's download, not only the first one's, shows its progress.
        if (wParam == 0 && InPackagePhase())
            SetPhase(RunPhase::PackageDownload);
        // Quiet mode shows nothing while the program only checks.
        if (!m_bShowPopups && !InPackagePhase())
            return;
        break;
    case UM_INFO_STATE:
    case UM_PACKAGE_STATE:
        if (wParam == 0) {
            SetPhase(message == UM_PACKAGE_STATE ? RunPhase::PackageDownload : RunPhase::InfoDownload);
            SetStatus(message == UM_PACKAGE_STATE ? "正在下载升级包......\r\n"
                                                  : "正在下载升级信息......\r\n");
            if (m_bShowPopups || InPackagePhase())
                ShowStatus(m_strStatus);
        } else if (wParam == 10) {
            SetPhase(message == UM_PACKAGE_STATE ? RunPhase::Packages : RunPhase::Checking);
        } else if (wParam == 20) {
            OnDownloadFailed(lParam);
        }
        return;
    case UM_UPDATE_RESULT:
        if (wParam == 0 && !m_bShowPopups) {
            QuitUpdater();
            return;
        }
        break;
    }
    if (const char* text = TextFor(message, wParam))
        ShowStatus(text);
}

void CUpdaterDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kProgressTimer)
        ShowProgress();
}

void CUpdaterDlg::ShowProgress()
{
    const bool bDownloading = Downloading();
    if (bDownloading) {
        const int nTotal = m_engine.m_nContentLength;
        if (nTotal > 0)
            m_notifier.SetProgress(m_engine.m_nReceived, nTotal);
        else
            m_notifier.SetProgress(0, 0);
    }
    // The status text takes the bar's place as soon as a download is over.
    m_notifier.ShowProgressBar(bDownloading);
}

LRESULT CUpdaterDlg::OnTrayCallback(WPARAM wParam, LPARAM lParam)
{
    if (wParam != kTrayIconId)
        return 0;
    // A right click ends in the menu message too: only the keyboard's takes the focus.
    const bool bMenuByMouse = m_bRightClick;
    m_bRightClick =
        lParam == WM_RBUTTONDOWN || (m_bRightClick && (lParam == WM_RBUTTONUP || lParam == WM_MOUSEMOVE));
    if (lParam == NIN_KEYSELECT || (lParam == WM_CONTEXTMENU && !bMenuByMouse))
        m_notifier.ShowWithKeyboard(m_strStatus.c_str(), 500, 3000, 500);
    else if (lParam == WM_LBUTTONDOWN || lParam == WM_LBUTTONDBLCLK || lParam == WM_RBUTTONDOWN)
        m_notifier.Show(m_strStatus.c_str(), 500, 3000, 500);
    return 0;
}

LRESULT CUpdaterDlg::OnSecondStart(WPARAM key, LPARAM show)
{
    if (key != InstallationKey(m_strInstallFolder))
        return SECOND_START_NOT_OURS;
    if (m_phase == RunPhase::Quitting)
        return SECOND_START_ENDING;
    // A copy that only sits in the tray makes way, so that a start always checks.
    if (m_phase == RunPhase::Over) {
        QuitUpdater();
        return SECOND_START_ENDING;
    }
    if (show)
        m_notifier.Show(m_strStatus.c_str(), 500, 3000, 500);
    return SECOND_START_AT_WORK;
}

void CUpdaterDlg::QuitUpdater()
{
    SetPhase(RunPhase::Quitting);
    m_engine.Cancel();
    NotifyTray(NIM_DELETE);
    ::PostQuitMessage(0);
}

void CUpdaterDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd)) {
        Default();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()));
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
    ::DrawIcon(dc, (rc.right - rc.left - cx + 1) / 2, (rc.bottom - rc.top - cy + 1) / 2, m_hIcon);
}

LRESULT CUpdaterDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case UM_TRANSFER_STATE:
    case UM_UPDATE_ERROR:
    case UM_INFO_STATE:
    case UM_PACKAGE_STATE:
    case UM_UPDATE_RESULT:
        OnStatus(message, wParam, lParam);
        return Default();
    case UM_TRAY_CALLBACK:
        return OnTrayCallback(wParam, lParam);
    case WM_TIMER:
        OnTimer(wParam);
        return Default();
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_COMMAND:
        // The notifier's cancel button.
        if (LOWORD(wParam) == (IDC_NOTIFIER_CANCEL & 0xFFFF)) {
            QuitUpdater();
            return 0;
        }
        return Default();
    default:
        if (message == m_nTaskbarCreated
            && m_phase != RunPhase::Quitting) // the taskbar was restarted: the icon is gone
            NotifyTray(NIM_ADD);
        if (message == m_nSecondStart)
            return OnSecondStart(wParam, lParam);
        return CDialog::WindowProc(message, wParam, lParam);
    }
}
