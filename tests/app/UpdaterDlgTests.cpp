// The main dialog in this process: every status message in, the text it shows (or
// keeps) and whether it quits, with popups and in quiet mode; progress for every
// package. The engine's Init fails here (no main program beside the tests), which is
// all the dialog needs: the messages are sent to it directly.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "res/resource.h"
#include "ui/UpdaterDlg.h"

#include <shellapi.h>

namespace {

class CProbeDlg : public CUpdaterDlg {
public:
    using CUpdaterDlg::CUpdaterDlg;
    using CUpdaterDlg::kProgressTimer;
    using CUpdaterDlg::m_bShowPopups;
    using CUpdaterDlg::m_notifier;
    using CUpdaterDlg::m_phase;
    using CUpdaterDlg::m_strStatus;
    using CUpdaterDlg::RunPhase;
};

bool Quit()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

TEST(UpdaterDlg, StatusMessagesBecomeTextsOrQuit)
{
    CProbeDlg dlg;
    ASSERT_TRUE(dlg.Create());
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = dlg.m_hWnd;
    icon.uID = IDR_MAINFRAME;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &icon));
    const char* const kGetting = "正在下载升级信息......\r\n";
    using P = CProbeDlg::RunPhase;
    const P kCheck = P::Checking, kInfo = P::InfoDownload, kPackage = P::PackageDownload;
    const struct {
        UINT message;
        WPARAM phase;
        LPARAM result;
        bool quiet;
        P from;
        const char* text; // null: unchanged
        bool shown, quits;
        bool downloading; // the timer runs, feeding the bar
    } cases[] = {
        {UM_TRANSFER_STATE, 30, 0, false, kInfo, "下载成功。\r\n", true, false, true},
        // Quiet while it only checks.
        {UM_TRANSFER_STATE, 30, 0, true, kInfo, nullptr, false, false, true},
        {UM_UPDATE_ERROR, 0, 0, true, kCheck, "创建临时文件夹时出错，升级失败。\r\n", true, false, false},
        {UM_INFO_STATE, 0, 0, true, kCheck, kGetting, false, false, true},
        {UM_INFO_STATE, 10, 0, false, kInfo, nullptr, false, false, false},
        {UM_INFO_STATE, 20, -1, false, kInfo, "下载过程中出现错误，下载失败。\r\n", true, false, false},
        {UM_INFO_STATE, 20, -2, false, kInfo, "链接或数据传输过程中超时，下载失败。\r\n", true, false, false},
        {UM_INFO_STATE, 20, -3, false, kInfo, "升级被取消。\r\n", true, false, false},
        {UM_INFO_STATE, 20, 404, false, kInfo, "链接服务器时发生错误，错误代码404，下载失败。\r\n", true,
         false, false},
        {UM_INFO_STATE, 20, 404, true, kInfo, nullptr, false, true, false},
        {UM_PACKAGE_STATE, 0, 0, true, kCheck, "正在下载升级包......\r\n", true, false, true},
        {UM_TRANSFER_STATE, 30, 0, true, kPackage, "下载成功。\r\n", true, false, true},
        {UM_PACKAGE_STATE, 10, 0, true, kPackage, nullptr, false, false, false},
        {UM_TRANSFER_STATE, 0, 0, true, P::Packages, nullptr, false, false, true}, // the next package
        // The run's final message ends any download; nothing starts one again.
        {UM_UPDATE_ERROR, 10, 0, true, kPackage, "升级信息文件错误，升级失败。\r\n", true, false, false},
        {UM_UPDATE_RESULT, 0, 0, false, kCheck, "本机安装的已是最新版本，无需更新。\r\n", true, false, false},
        {UM_UPDATE_RESULT, 0, 0, true, kCheck, nullptr, false, true, false},
        {UM_UPDATE_RESULT, 20, 0, true, kPackage, "更新成功。\r\n", true, false, false},
        {UM_TRANSFER_STATE, 0, 0, true, P::Over, nullptr, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "WM_USER+" << c.message - WM_USER << " " << c.phase << " "
                                        << c.result << (c.quiet ? " quiet" : ""));
        dlg.m_bShowPopups = !c.quiet;
        dlg.m_strStatus = "before";
        dlg.m_phase = c.from;
        const bool wasDownloading = c.from == kInfo || c.from == kPackage;
        if (wasDownloading)
            SetTimer(dlg.m_hWnd, dlg.kProgressTimer, 1000, nullptr);
        else
            KillTimer(dlg.m_hWnd, dlg.kProgressTimer);
        dlg.m_notifier.m_bShowProgress = wasDownloading;
        dlg.m_notifier.Hide();
        dlg.SendMessage(c.message, c.phase, c.result);
        EXPECT_EQ(IsWindowVisible(dlg.m_notifier.m_hWnd) != FALSE, c.shown);
        EXPECT_EQ(dlg.m_strStatus, c.text ? c.text : "before");
        EXPECT_EQ(Quit(), c.quits);
        EXPECT_EQ(KillTimer(dlg.m_hWnd, dlg.kProgressTimer) != FALSE, c.downloading) << "the timer";
        EXPECT_EQ(dlg.m_notifier.m_bShowProgress, wasDownloading && c.downloading) << "the bar, until a tick";
    }
    // The notifier's cancel quits, and the tray icon is gone.
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_NOTIFIER_CANCEL & 0xFFFF, BN_CLICKED), 0);
    EXPECT_TRUE(Quit());
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &icon));
}

// Updates an administrator turned off: the run's only text says so, and nothing starts.
TEST(UpdaterDlg, UpdatesOffOnlySaySo)
{
    CProbeDlg dlg(nullptr, std::string(), std::string(), true);
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_strStatus, "自动更新已被管理员关闭。\r\n");
    EXPECT_TRUE(IsWindowVisible(dlg.m_notifier.m_hWnd));
    EXPECT_EQ(dlg.m_phase, CProbeDlg::RunPhase::Over);
}

} // namespace
