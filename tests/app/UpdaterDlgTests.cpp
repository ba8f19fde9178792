// The main dialog in this process: every status message in, the text it shows (or
// keeps), what a screen reader hears of it, and whether it quits, with popups and in
// quiet mode; progress for every package; the keyboard's way into the popup. The
// engine's Init fails here (no main program beside the tests), which is all the dialog
// needs: the messages are sent to it directly.
#include <gtest/gtest.h>

#include "TestWindows.h"
#include "framework/SystemLibrary.h"
#include "framework/UserText.h"
#include "res/resource.h"
#include "ui/UpdaterDlg.h"

#include <oleacc.h>
#include <shellapi.h>

#include <future>

namespace {

const IID kIIDAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
using Read = std::tuple<LONG, std::wstring, LONG>; // role, name, state (unavailable, focused)

Read ReadOf(IAccessible* pObject)
{
    VARIANT self = {}, role = {}, state = {};
    self.vt = VT_I4; // CHILDID_SELF
    BSTR name = nullptr;
    pObject->get_accRole(self, &role);
    pObject->get_accState(self, &state);
    pObject->get_accName(self, &name);
    const Read read = {role.lVal, name ? name : L"",
                       state.lVal & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_FOCUSED)};
    ::SysFreeString(name);
    return read;
}

const auto ObjectFromWindow = SystemFunction<decltype(&AccessibleObjectFromWindow)>(
    LoadSystemLibrary("oleacc.dll"), "AccessibleObjectFromWindow");

// An object and its children as a screen reader reads them, from a second thread,
// while this one pumps: they answer on it.
std::vector<Read> ReadAccessible(HWND hWnd, LONG idObject)
{
    auto reading = std::async(std::launch::async, [=] {
        std::vector<Read> reads = {{0, L"(no object)", 0}};
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IAccessible* pObject = nullptr;
        if (SUCCEEDED(ObjectFromWindow(hWnd, static_cast<DWORD>(idObject), kIIDAccessible,
                                       reinterpret_cast<void**>(&pObject)))) {
            reads = {ReadOf(pObject)};
            LONG n = 0;
            pObject->get_accChildCount(&n);
            VARIANT child = {};
            for (child.vt = VT_I4; child.lVal++ < n;) {
                IDispatch* pChild = nullptr;
                IAccessible* pAccessible = nullptr;
                if (SUCCEEDED(pObject->get_accChild(child, &pChild))
                    && SUCCEEDED(
                        pChild->QueryInterface(kIIDAccessible, reinterpret_cast<void**>(&pAccessible)))) {
                    reads.push_back(ReadOf(pAccessible));
                    pAccessible->Release();
                    pChild->Release();
                }
            }
            pObject->Release();
        }
        ::CoUninitialize();
        return reads;
    });
    PumpUntil([&] { return reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return reading.get();
}

std::vector<DWORD> g_heard;
void CALLBACK Hear(HWINEVENTHOOK, DWORD event, HWND, LONG, LONG, DWORD, DWORD)
{
    if (event == EVENT_SYSTEM_ALERT || event == EVENT_OBJECT_NAMECHANGE || event == EVENT_OEM_DEFINED_START)
        g_heard.push_back(event);
}

// The alerts and name changes a screen reader heard from this process since the last
// call (SetWinEventHook): a marker raised now has come back after them.
std::vector<DWORD> Heard(HWND hWnd)
{
    static const HWINEVENTHOOK hHook =
        ::SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_OBJECT_NAMECHANGE, nullptr, Hear, ::GetCurrentProcessId(),
                          0, WINEVENT_OUTOFCONTEXT);
    ::NotifyWinEvent(EVENT_OEM_DEFINED_START, hWnd, OBJID_CLIENT, CHILDID_SELF);
    PumpUntil([&] { return hHook && !g_heard.empty() && g_heard.back() == EVENT_OEM_DEFINED_START; }, 10000);
    g_heard.erase(std::remove(g_heard.begin(), g_heard.end(), EVENT_OEM_DEFINED_START), g_heard.end());
    return std::exchange(g_heard, {});
}

class CProbeDlg : public CUpdaterDlg {
public:
    using CUpdaterDlg::kProgressTimer;
    using CUpdaterDlg::m_bShowPopups;
    using CUpdaterDlg::m_engine;
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
        {UM_INFO_STATE, 0, 0, true, kCheck, "正在下载升级信息......\r\n", false, false, true},
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
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        dlg.m_bShowPopups = !c.quiet;
        dlg.m_strStatus = "before";
        dlg.m_phase = c.from;
        const bool wasDownloading = c.from == kInfo || c.from == kPackage;
        if (wasDownloading) // every row ends with the timer killed
            SetTimer(dlg.m_hWnd, dlg.kProgressTimer, 1000, nullptr);
        dlg.m_notifier.m_bShowProgress = wasDownloading;
        Heard(dlg.m_hWnd);
        dlg.m_notifier.Hide();
        dlg.SendMessage(c.message, c.phase, c.result);
        EXPECT_EQ(IsWindowVisible(dlg.m_notifier.m_hWnd) != FALSE, c.shown);
        EXPECT_EQ(dlg.m_strStatus, c.text ? c.text : "before");
        EXPECT_EQ(Quit(), c.quits);
        // A screen reader hears an alert when the popup shows, and reads the text.
        const std::vector<DWORD> heard = Heard(dlg.m_hWnd);
        EXPECT_EQ(std::count(heard.begin(), heard.end(), EVENT_SYSTEM_ALERT), c.shown ? 1 : 0);
        if (c.shown) {
            EXPECT_EQ(std::get<1>(ReadAccessible(dlg.m_notifier.m_hWnd, OBJID_CLIENT)[0]),
                      WideFrom936(WithoutFinalLineBreak(c.text)));
        }
        EXPECT_EQ(KillTimer(dlg.m_hWnd, dlg.kProgressTimer) != FALSE, c.downloading) << "the timer";
        EXPECT_EQ(dlg.m_notifier.m_bShowProgress, wasDownloading && c.downloading) << "the bar, until a tick";
    }
    // Seconds of a download: the name follows the percentage, once, with no alert.
    dlg.SendMessage(UM_PACKAGE_STATE, 0, 0);
    dlg.m_engine.m_nContentLength = 1000;
    const std::tuple<UINT, WPARAM, int, const wchar_t*, bool> seconds[] = {
        {WM_TIMER, dlg.kProgressTimer, 333, L"正在下载升级包...... 33%", true},
        {WM_TIMER, dlg.kProgressTimer, 334, L"正在下载升级包...... 33%", false},
        {WM_TIMER, dlg.kProgressTimer, 995, L"正在下载升级包...... 100%", true},
        {UM_PACKAGE_STATE, 10, 995, L"正在下载升级包......", true}}; // the bar gone
    Heard(dlg.m_hWnd);
    for (const auto& [message, wParam, received, name, changed] : seconds) {
        dlg.m_engine.m_nReceived = received;
        dlg.SendMessage(message, wParam);
        EXPECT_EQ(Heard(dlg.m_hWnd), std::vector<DWORD>(changed, EVENT_OBJECT_NAMECHANGE));
        EXPECT_EQ(std::get<1>(ReadAccessible(dlg.m_notifier.m_hWnd, OBJID_CLIENT)[0]), name);
    }
    // The notifier's cancel quits, and the tray icon is gone.
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_NOTIFIER_CANCEL & 0xFFFF, BN_CLICKED), 0);
    EXPECT_TRUE(Quit());
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &icon));
}

// Enter on the tray icon (Wine's tray never sends it: posted here) or its menu key
// hands the popup the keyboard; Esc gives it back, Enter presses the focused button.
// A mouse click, left or right (which ends in the menu message too), leaves it alone.
TEST(UpdaterDlg, KeyboardReachesThePopupAClickDoesNot)
{
    CProbeDlg dlg;
    ASSERT_TRUE(dlg.Create());
    CTestParent typing;
    ::SetForegroundWindow(typing.m_hWnd);
    const HWND hPopup = dlg.m_notifier.m_hWnd, hCancel = GetDlgItem(hPopup, IDC_NOTIFIER_CANCEL);
    for (const LPARAM click : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU})
        dlg.SendMessage(UM_TRAY_CALLBACK, IDR_MAINFRAME, click);
    EXPECT_TRUE(IsWindowVisible(hPopup));
    EXPECT_EQ(GetForegroundWindow(), typing.m_hWnd);
    dlg.PostMessage(UM_TRAY_CALLBACK, IDR_MAINFRAME, NIN_KEYSELECT);
    PumpUntil([&] { return GetFocus() == hCancel; }, 5000);
    EXPECT_EQ(ReadAccessible(hPopup, OBJID_WINDOW),
              (std::vector<Read>{{ROLE_SYSTEM_ALERT, L"升级程序初始化出错，升级失败。", 0},
                                 {ROLE_SYSTEM_PUSHBUTTON, L"立即安装", STATE_SYSTEM_UNAVAILABLE},
                                 {ROLE_SYSTEM_PUSHBUTTON, L"取消升级", STATE_SYSTEM_FOCUSED}}));
    dlg.m_notifier.SendMessage(WM_TIMER, CTaskbarNotifier::TIMER_STAY);
    EXPECT_FALSE(KillTimer(hPopup, CTaskbarNotifier::TIMER_DISAPPEAR)) << "it stays while it holds the focus";
    ::PostMessageA(hCancel, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(hPopup); }, 5000));
    EXPECT_EQ(GetForegroundWindow(), typing.m_hWnd);
    dlg.PostMessage(UM_TRAY_CALLBACK, IDR_MAINFRAME, WM_CONTEXTMENU);
    PumpUntil([&] { return GetFocus() == hCancel; }, 5000);
    ::PostMessageA(hCancel, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(PumpUntil([&] { return dlg.m_phase == CProbeDlg::RunPhase::Quitting; }, 5000));
    // A reader's object kept past its window answers nothing and presses nothing.
    IAccessible* pCancel = nullptr;
    ASSERT_EQ(ObjectFromWindow(hCancel, OBJID_CLIENT, kIIDAccessible, reinterpret_cast<void**>(&pCancel)),
              S_OK);
    dlg.m_notifier.DestroyWindow();
    VARIANT self = {}, role = {};
    self.vt = VT_I4; // CHILDID_SELF
    EXPECT_EQ(pCancel->accDoDefaultAction(self), RPC_E_DISCONNECTED);
    EXPECT_EQ(pCancel->get_accRole(self, &role), RPC_E_DISCONNECTED);
    pCancel->Release();
}

} // namespace
