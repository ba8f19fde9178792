// The sliding notifier in this process, where a work area set with SPI_SETWORKAREA is
// seen (Wine keeps it per process): the edge and path of the slide with the timers'
// ticks delivered by hand, the shape from the skin, pixels of the painted progress,
// clicks, activation and GDI objects.
#include "TestResources.h"
#include "TestWindows.h"
#include "res/resource.h"
#include "ui/TaskbarNotifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

using N = CTaskbarNotifier;

// The notifier with its state in view.
class CProbe : public CTaskbarNotifier {
public:
    using CTaskbarNotifier::BarWidth;
    using CTaskbarNotifier::Layout;
    using CTaskbarNotifier::m_bmpSkin;
    using CTaskbarNotifier::m_fontText;
    using CTaskbarNotifier::m_fontTitle;
    using CTaskbarNotifier::m_nSkinWidth;
    using CTaskbarNotifier::m_nState;
    using CTaskbarNotifier::PercentText;
    // Delivers ticks of a timer until the state leaves `from`; how many it took.
    int TicksWhile(UINT_PTR nTimer, int from)
    {
        int n = 0;
        for (; n <= 1000 && (m_nState == from || (n == 0 && m_nState == STATE_HIDDEN)); ++n)
            SendMessage(WM_TIMER, nTimer);
        return n;
    }
    bool At(POINT pt) const
    {
        RECT rc;
        ::GetWindowRect(m_hWnd, &rc);
        return rc.left == pt.x && rc.top == pt.y;
    }
};

class Notifier : public testing::Test {
protected:
    Notifier()
    {
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &m_saved, 0);
        SetWorkArea({0, 0, 1280, 984}); // a taskbar at the bottom
        m_notifier.Create(&m_owner);
        m_notifier.SetVersionText("1.0");
        m_notifier.SetSkin(IDB_NOTIFIER_SKIN, 255, 0, 255);
        m_notifier.SetTextColor(RGB(255, 255, 255));
    }
    ~Notifier() override { SetWorkArea(m_saved); }
    static void SetWorkArea(RECT rc) { ::SystemParametersInfoA(SPI_SETWORKAREA, 0, &rc, 0); }
    int SlideIn(const char* text) // the ticks it took
    {
        m_notifier.Show(text, 500, 3000, 500);
        return m_notifier.TicksWhile(N::TIMER_APPEAR, N::STATE_APPEARING);
    }
    RECT m_saved = {};
    CTestParent m_owner;
    CProbe m_notifier;
};

// Screen 1280 x 1024, skin 240 x 100.
TEST_F(Notifier, SlidesFromTheTaskbarsEdgeAndBack)
{
    const struct {
        const char* name;
        RECT work;
        POINT start, shown;
        int moves;
    } cases[] = {
        {"bottom", {0, 0, 1280, 984}, {1040, 984}, {1040, 884}, 50},
        {"right", {0, 0, 1220, 1024}, {1220, 924}, {980, 924}, 120},
        {"top", {0, 40, 1280, 1024}, {1040, -60}, {1040, 40}, 50},
        {"left", {60, 0, 1280, 1024}, {-180, 924}, {60, 924}, 120},
        {"full_screen", {0, 0, 1280, 1024}, {1040, 1024}, {1040, 924}, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetWorkArea(c.work);
        EXPECT_EQ(SlideIn("升级启动成功。\r\n"), c.moves + 1);
        EXPECT_TRUE(m_notifier.At(c.shown));
        EXPECT_TRUE(::IsWindowVisible(m_notifier.m_hWnd));
        m_notifier.SendMessage(WM_TIMER, N::TIMER_STAY);
        EXPECT_EQ(m_notifier.TicksWhile(N::TIMER_DISAPPEAR, N::STATE_WAITING)
                      + m_notifier.TicksWhile(N::TIMER_DISAPPEAR, N::STATE_DISAPPEARING),
                  c.moves + 1);
        EXPECT_FALSE(::IsWindowVisible(m_notifier.m_hWnd));
        EXPECT_TRUE(m_notifier.At(c.start)) << "left hidden at the start";
    }
}

TEST_F(Notifier, ShowDuringEachState)
{
    const auto show = [&](const char* text) { m_notifier.Show(text, 500, 3000, 500); };
    show("a");
    show("b"); // before the first tick: from the start again
    EXPECT_EQ(m_notifier.GetWindowText(), "b") << "the text, as a screen reader reads it";
    m_notifier.SendMessage(WM_TIMER, N::TIMER_APPEAR);
    m_notifier.SendMessage(WM_TIMER, N::TIMER_APPEAR);
    EXPECT_TRUE(m_notifier.At({1040, 980}));
    show("c"); // appearing: text only
    EXPECT_EQ(m_notifier.m_nState, N::STATE_APPEARING);
    EXPECT_TRUE(m_notifier.At({1040, 980}));
    m_notifier.TicksWhile(N::TIMER_APPEAR, N::STATE_APPEARING);
    show("d"); // waiting: the stay starts again
    EXPECT_EQ(m_notifier.m_nState, N::STATE_WAITING);
    m_notifier.SendMessage(WM_TIMER, N::TIMER_STAY);
    show("d"); // the stay over, the slide-out's first step still to come: it never comes
    EXPECT_FALSE(::KillTimer(m_notifier.m_hWnd, N::TIMER_DISAPPEAR));
    m_notifier.SendMessage(WM_TIMER, N::TIMER_STAY);
    for (int i = 0; i < 5; ++i)
        m_notifier.SendMessage(WM_TIMER, N::TIMER_DISAPPEAR);
    EXPECT_TRUE(m_notifier.At({1040, 894}));
    show("e"); // disappearing: back in place, the slide-out starts over after the stay
    EXPECT_TRUE(m_notifier.At({1040, 884}));
    EXPECT_EQ(m_notifier.m_nState, N::STATE_DISAPPEARING);
    m_notifier.SendMessage(WM_TIMER, N::TIMER_DISAPPEAR);
    EXPECT_TRUE(m_notifier.At({1040, 886}));
    CTaskbarNotifier unskinned;
    unskinned.Create(&m_owner);
    unskinned.Show("no skin", 500, 3000, 500); // no tick count to divide by
    EXPECT_FALSE(::IsWindowVisible(unskinned.m_hWnd));
}

int CALLBACK CollectText(HDC, HANDLETABLE*, const ENHMETARECORD* pRecord, int, LPARAM lParam)
{
    if (pRecord->iType == EMR_EXTTEXTOUTW) {
        const auto* pText = reinterpret_cast<const EMREXTTEXTOUTW*>(pRecord);
        reinterpret_cast<std::vector<std::wstring>*>(lParam)->emplace_back(
            reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(pRecord)
                                             + pText->emrtext.offString),
            pText->emrtext.nChars);
    }
    return 1;
}

// The texts a window's painting writes, read back from a metafile of it.
std::vector<std::wstring> TextsPainted(HWND hWnd)
{
    const HDC hEmf = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ::SendMessageW(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hEmf), PRF_CLIENT);
    const HENHMETAFILE hMeta = ::CloseEnhMetaFile(hEmf);
    std::vector<std::wstring> texts;
    ::EnumEnhMetaFile(nullptr, hMeta, CollectText, &texts, nullptr);
    ::DeleteEnhMetaFile(hMeta);
    return texts;
}

// Also run on a system whose ANSI code page is not 936 (a ctest entry of its own): the
// texts, the progress and its bar, repainted when it changes.
TEST_F(Notifier, TextsAndProgressPainted)
{
    SlideIn("正在下载升级包......\r\n");
    const std::wstring title = L"Vantorel 程序升级程序(v1.0)";
    EXPECT_EQ(TextsPainted(m_notifier.m_hWnd), (std::vector<std::wstring>{title, L"正在下载升级包......"}));
    m_notifier.m_bShowProgress = true;
    m_notifier.SetProgress(333, 1000);
    EXPECT_EQ(TextsPainted(m_notifier.m_hWnd),
              (std::vector<std::wstring>{title, L"接收:333 / 总量:1000", L"33%"}));
    wchar_t caption[16] = L"";
    ::GetDlgItemTextW(m_notifier.m_hWnd, IDC_NOTIFIER_CANCEL, caption, 16);
    EXPECT_STREQ(caption, L"取消升级");
    // Their fonts hold the characters: no boxes in their place.
    CClientDC screen(m_notifier.m_hWnd);
    for (const HFONT hFont : {HFONT(m_notifier.m_fontTitle), HFONT(m_notifier.m_fontText)}) {
        CSelectObject font(screen, hFont);
        WORD glyphs[8];
        ::GetGlyphIndicesW(screen, L"程序升级接收总量", 8, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        EXPECT_EQ(std::count(glyphs, glyphs + 8, 0xFFFF), 0);
    }
    CCanvas canvas(240, 100, 0);
    ::BitBlt(canvas, 0, 0, 240, 100, screen, 0, 0, SRCCOPY);
    int nGreen = 0; // row 53 of the bar (10, 46, 230, 61): frame, 72 green pixels, then the skin
    for (int x = 10; x < 230; ++x)
        nGreen += canvas.Pixel(x, 53) == RGB(0, 225, 50) ? 1 : 0;
    EXPECT_EQ(nGreen, 72);
    EXPECT_EQ(canvas.Pixel(10, 53), RGB(180, 180, 180));
    EXPECT_EQ(canvas.Pixel(11, 53), RGB(0, 225, 50));
    const struct {
        int received, width;
        const char* percent;
    } cases[] = {{333, 73, "33%"}, {5, 1, "1%"}, {995, 219, "100%"}, {0, 0, "0%"}, {1500, 220, "100%"}};
    for (const auto& c : cases) {
        m_notifier.SetProgress(c.received, 1000);
        EXPECT_EQ(m_notifier.BarWidth(220), c.width) << c.received;
        EXPECT_EQ(m_notifier.PercentText(), c.percent) << c.received;
    }
    m_notifier.SetProgress(5, 0); // no total: the status text again
    ::BitBlt(canvas, 0, 0, 240, 100, screen, 0, 0, SRCCOPY);
    EXPECT_NE(canvas.Pixel(229, 53), RGB(180, 180, 180));
}

TEST_F(Notifier, ClicksCommandsAndNoActivation)
{
    ::SetActiveWindow(m_owner.m_hWnd);
    SlideIn("x");
    EXPECT_EQ(::GetActiveWindow(), m_owner.m_hWnd) << "the popup never takes the keyboard";
    m_notifier.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    PumpUntil([] { return false; }, 50);
    EXPECT_TRUE(m_owner.m_private.empty()) << "not on the press";
    m_notifier.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(m_owner.m_private, std::vector<UINT>{UM_NOTIFIER_CLICKED});
    const HWND hCancel = ::GetDlgItem(m_notifier.m_hWnd, IDC_NOTIFIER_CANCEL);
    ::SendMessageA(hCancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(35, 10));
    ::SendMessageA(hCancel, WM_LBUTTONUP, 0, MAKELPARAM(35, 10));
    ASSERT_EQ(m_owner.m_commands.size(), 1u);
    EXPECT_EQ(m_owner.m_commands[0].nID, IDC_NOTIFIER_CANCEL & 0xFFFF) << "the cancel reaches the owner";
}

TEST_F(Notifier, NoGdiObjectLeftBehind)
{
    const auto cycle = [&] {
        SlideIn("x");
        m_notifier.m_bShowProgress = !m_notifier.m_bShowProgress;
        m_notifier.SetProgress(m_notifier.m_bShowProgress ? 400 : 600, 1000);
        m_notifier.SetSkin(IDB_TEST_CUTSKIN, 255, 0, 255);
        m_notifier.SetSkin(IDB_NOTIFIER_SKIN, 255, 0, 255);
        m_notifier.Hide();
    };
    cycle();
    const long nBefore = GdiObjectsInUse();
    for (int i = 0; i < 20; ++i)
        cycle();
    EXPECT_EQ(GdiObjectsInUse(), nBefore);
}

std::vector<LONG> Corners(HWND hWnd, HWND hTo)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    ::MapWindowPoints(nullptr, hTo, reinterpret_cast<POINT*>(&rc), 2);
    return {rc.left, rc.top, rc.right, rc.bottom};
}

// At the scale this process started with (UPDATER_TEST_DPI, 96 by default), the
// taskbar monitor's: not the one WM_DPICHANGED names at the start of the slide, and
// again once it is no longer the popup's (laid out at another here: under Wine a
// process keeps its scale). A skin with a cut corner keeps it exactly: each pixel is a
// hole of the shape or the skin's colour, never a blend, up to the right-hand edge.
TEST_F(Notifier, LaidOutAtTheDisplaysScale)
{
    char dpi[8] = "96";
    ::GetEnvironmentVariableA("UPDATER_TEST_DPI", dpi, sizeof dpi);
    const int nDpi = atoi(dpi);
    const auto S = [nDpi](LONG n) { return ::MulDiv(n, nDpi, 96); };
    const auto InShape = [&](int x, int y) {
        CRgn rgn(::CreateRectRgn(0, 0, 0, 0));
        return ::GetWindowRgn(m_notifier.m_hWnd, rgn) != ERROR && ::PtInRegion(rgn, x, y);
    };
    ASSERT_EQ(::GetDeviceCaps(CClientDC(nullptr), LOGPIXELSX), nDpi);
    m_notifier.Show("x", 500, 3000, 500);
    m_notifier.SendMessage(WM_DPICHANGED, MAKEWPARAM(144, 144));
    m_notifier.TicksWhile(N::TIMER_APPEAR, N::STATE_APPEARING);
    m_notifier.m_bShowProgress = true;
    // Slid in at the bottom edge: size and place, shape (skin 130 has no key colour),
    // buttons, the progress bar, and at 200 % the art drawn at twice the size, whose
    // gradient steps within pixel pairs.
    EXPECT_EQ(Corners(m_notifier.m_hWnd, nullptr),
              (std::vector<LONG>{1280 - S(240), 984 - S(100), 1280, 984}));
    EXPECT_TRUE(InShape(0, 0) && InShape(S(240) - 1, S(100) - 1) && !InShape(S(240), 50)
                && !InShape(50, S(100)));
    for (const auto& [nID, nLeft] :
         {std::pair<UINT, LONG>{IDC_NOTIFIER_INSTALL, 40}, {IDC_NOTIFIER_CANCEL, 120}})
        EXPECT_EQ(Corners(::GetDlgItem(m_notifier.m_hWnd, nID), m_notifier.m_hWnd),
                  (std::vector<LONG>{S(nLeft), S(70), S(nLeft + 70), S(90)}));
    m_notifier.SetProgress(500, 1000);
    CCanvas canvas(S(240), S(100), 0);
    ::BitBlt(canvas, 0, 0, S(240), S(100), CClientDC(m_notifier.m_hWnd), 0, 0, SRCCOPY);
    EXPECT_EQ(canvas.Pixel(S(20), S(53)), RGB(0, 225, 50)) << "the bar's fill";
    int nSteps = 0;
    for (int y = 60; y < 140; y += 2)
        nSteps += canvas.Pixel(460, y) != canvas.Pixel(460, y + 1);
    EXPECT_TRUE(nDpi != 192 || nSteps > 0) << "the 2x art as it is";
    const long nBefore = GdiObjectsInUse();
    for (UINT nOther : {144, 96, 192}) { // the art scaled, as it is, and doubled
        m_notifier.Hide();
        m_notifier.Layout(nOther);
        m_notifier.SendMessage(WM_DPICHANGED, MAKEWPARAM(nOther, nOther));
        EXPECT_EQ(m_notifier.m_nSkinWidth, S(240)) << nOther;
    }
    EXPECT_EQ(GdiObjectsInUse(), nBefore);
    ASSERT_TRUE(m_notifier.SetSkin(IDB_TEST_CUTSKIN, 255, 0, 255));
    CMemDC skin(nullptr);
    CSelectObject select(skin, m_notifier.m_bmpSkin);
    const int W = m_notifier.m_nSkinWidth;
    int nWrong = InShape(W - 1, 0); // the corner itself a hole
    for (int y = 0; y < S(10); ++y)
        for (int x = W - S(10); x < W; ++x)
            nWrong += ::GetPixel(skin, x, y) != (InShape(x, y) ? RGB(0, 0, 82) : RGB(255, 0, 255));
    EXPECT_EQ(nWrong, 0);
    EXPECT_FALSE(m_notifier.SetSkin(4242, 255, 0, 255));
    EXPECT_EQ(m_notifier.m_nSkinWidth, W) << "a missing skin keeps the old size";
}

// Wine reads the scale from the registry at each start: the test above in a process of
// its own at each scale.
TEST(NotifierScale, AtEachDisplayScale)
{
    for (DWORD dpi : {120, 144, 192, 96}) {
        ::RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi,
                          sizeof dpi);
        if (dpi == 96)
            break; // the prefix as the other tests want it
        ::SetEnvironmentVariableA("UPDATER_TEST_DPI", std::to_string(dpi).c_str());
        CFake child = StartProgram(ExeFolder() + "notifier_tests.exe", "--gtest_filter=Notifier.LaidOutAt*");
        DWORD dwExit = ::WaitForSingleObject(child, 60000); // then the child's exit code
        EXPECT_TRUE(dwExit == WAIT_OBJECT_0 && ::GetExitCodeProcess(child, &dwExit) && dwExit == 0) << dpi;
    }
    ::SetEnvironmentVariableA("UPDATER_TEST_DPI", nullptr);
}

} // namespace
