// The skinned button driven through real messages on a visible parent.
#include "SkinButtonTestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

class SkinButtonBehaviour : public testing::Test {
protected:
    CTestParent m_parent;

    void Make(CSkinButton& button, DWORD dwStyle, UINT nID = 7, int x = 10)
    {
        ASSERT_TRUE(
            button.Create("b", WS_CHILD | WS_VISIBLE | dwStyle, RECT{x, 10, x + 70, 30}, &m_parent, nID));
        button.SetBitmaps(IDB_TEST_NORMAL, IDB_TEST_PRESSED, IDB_TEST_HOVER, 0, 0, 1, 0, 0);
        ::UpdateWindow(m_parent.m_hWnd);
    }
    int Clicks(UINT nCode = BN_CLICKED) const
    {
        int n = 0;
        for (const Notification& note : m_parent.m_commands)
            n += note.nCode == nCode;
        return n;
    }
    static int Check(const CSkinButton& button) { return static_cast<int>(button.SendMessage(BM_GETCHECK)); }
    static bool Pushed(const CSkinButton& button) { return (button.GetState() & BST_PUSHED) != 0; }
    static bool NeedsPaint(HWND hWnd) { return ::GetUpdateRect(hWnd, nullptr, FALSE) != FALSE; }
};

TEST_F(SkinButtonBehaviour, KindComesFromTheStyleAndCheckChangesBeforeTheParentHearsTheClick)
{
    const struct {
        const char* name;
        DWORD dwStyle;
        int checks[3]; // after each click
    } cases[] = {
        {"push button", BS_PUSHBUTTON, {0, 0, 0}},
        {"check box", BS_AUTOCHECKBOX, {1, 0, 1}},
        {"radio button", BS_AUTORADIOBUTTON, {1, 1, 1}},
        {"plain radio style: a push kind, still owner-drawn", BS_RADIOBUTTON, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_parent.m_commands.clear();
        CSkinButton button;
        Make(button, c.dwStyle);
        EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), button.GetStyle() & BS_TYPEMASK);
        for (int i = 0; i < 3; ++i) {
            Click(button.m_hWnd);
            EXPECT_EQ(c.checks[i], Check(button));
            ASSERT_EQ(size_t(i + 1), m_parent.m_commands.size());
            EXPECT_EQ(static_cast<UINT>(BN_CLICKED), m_parent.m_commands[i].nCode);
            EXPECT_EQ(c.checks[i], m_parent.m_commands[i].nCheck) << "check state seen by the parent";
        }
    }
}

TEST_F(SkinButtonBehaviour, SpaceTogglesACheckBoxOnEveryKeyDownAndClicksOnRelease)
{
    for (DWORD dwStyle : {DWORD(BS_AUTOCHECKBOX), DWORD(BS_AUTORADIOBUTTON)}) {
        m_parent.m_commands.clear();
        CSkinButton button;
        Make(button, dwStyle);
        ::SetFocus(button.m_hWnd);
        std::vector<int> seen;
        for (LPARAM repeat : {LPARAM(1), LPARAM(1) | (1 << 30), LPARAM(1) | (1 << 30)}) {
            button.SendMessage(WM_KEYDOWN, VK_SPACE, repeat);
            seen.push_back(Check(button));
        }
        button.SendMessage(WM_KEYUP, VK_SPACE, LPARAM(1) | (3u << 30));
        const std::vector<int> expected =
            dwStyle == BS_AUTOCHECKBOX ? std::vector<int>{1, 0, 1} : std::vector<int>{1, 1, 1};
        EXPECT_EQ(expected, seen);
        EXPECT_EQ(1, Clicks());
    }
}

TEST_F(SkinButtonBehaviour, CheckingARadioUnchecksTheRestOfItsGroupAfterwards)
{
    for (bool bGroup : {false, true}) {
        SCOPED_TRACE(bGroup ? "group 101..103" : "no group bounds");
        CSkinButton radios[4];
        for (int i = 0; i < 4; ++i)
            Make(radios[i], BS_AUTORADIOBUTTON, 101 + i, 10 + 75 * i);
        for (int i : {0, 2, 3})
            radios[i].SendMessage(BM_SETCHECK, BST_CHECKED);
        if (bGroup)
            for (CSkinButton& radio : radios)
                radio.SetRadioGroup(101, 103);
        Click(radios[1].m_hWnd);
        EXPECT_EQ(1, Check(radios[0])) << "posted, so not yet";
        PumpPending();
        EXPECT_EQ(bGroup ? 0 : 1, Check(radios[0]));
        EXPECT_EQ(1, Check(radios[1]));
        EXPECT_EQ(bGroup ? 0 : 1, Check(radios[2]));
        EXPECT_EQ(1, Check(radios[3])) << "outside the group";
    }
}

TEST_F(SkinButtonBehaviour, CheckMessagesRepaintUnlessNothingChanges)
{
    CSkinButton push, box;
    Make(push, BS_PUSHBUTTON, 1, 10);
    Make(box, BS_AUTOCHECKBOX, 2, 100);
    ::ValidateRect(push.m_hWnd, nullptr);
    ::ValidateRect(box.m_hWnd, nullptr);
    push.SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(0, Check(push)) << "a push button never holds a check";
    EXPECT_TRUE(NeedsPaint(push.m_hWnd));
    box.SendMessage(UM_UNCHECK);
    EXPECT_FALSE(NeedsPaint(box.m_hWnd));
    box.SendMessage(BM_SETCHECK, BST_CHECKED);
    ::ValidateRect(box.m_hWnd, nullptr);
    box.SendMessage(UM_UNCHECK);
    EXPECT_EQ(0, Check(box));
    EXPECT_TRUE(NeedsPaint(box.m_hWnd));
}

TEST_F(SkinButtonBehaviour, DoubleClickIsASecondPressAndClick)
{
    CSkinButton button;
    Make(button, BS_AUTOCHECKBOX);
    MouseAt(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 35, 10);
    MouseAt(button.m_hWnd, WM_LBUTTONUP, 0, 35, 10);
    MouseAt(button.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, 35, 10);
    MouseAt(button.m_hWnd, WM_LBUTTONUP, 0, 35, 10);
    PumpPending();
    EXPECT_EQ(2, Clicks());
    EXPECT_EQ(0, Clicks(BN_DOUBLECLICKED));
    EXPECT_EQ(0, Check(button)); // toggled twice
}

TEST_F(SkinButtonBehaviour, DraggingOffAndBackFollowsTheWindowUnderThePointer)
{
    CSkinButton button;
    Make(button, BS_PUSHBUTTON);
    MouseAt(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 35, 10);
    EXPECT_TRUE(Pushed(button));
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, -5, 10);
    EXPECT_FALSE(Pushed(button));
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, 35, 10);
    EXPECT_TRUE(Pushed(button));
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, 35, 40);
    MouseAt(button.m_hWnd, WM_LBUTTONUP, 0, 35, 40);
    PumpPending();
    EXPECT_EQ(0, Clicks());
    EXPECT_NE(button.m_hWnd, ::GetCapture());
}

TEST_F(SkinButtonBehaviour, ShapedButtonIsNotPushedOverItsCutAwayPart)
{
    // Mode 0: the first four columns of the image are white, so not part of the window.
    CSkinButton button;
    Make(button, BS_PUSHBUTTON);
    button.SetBitmaps(IDB_TEST_SHAPE, IDB_TEST_SHAPE, 0, 0, 0, 0, 0, 0);
    MouseAt(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 12, 6);
    ASSERT_TRUE(Pushed(button));
    // Inside the rectangle, outside the shape: the control alone would stay pushed.
    // No pumping here: the pointer warp's own move events carry no button flag.
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, 1, 6);
    EXPECT_FALSE(Pushed(button));
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, 12, 6);
    EXPECT_TRUE(Pushed(button));
    MouseAt(button.m_hWnd, WM_LBUTTONUP, 0, 12, 6);
    EXPECT_EQ(1, Clicks());
}

TEST_F(SkinButtonBehaviour, HoverImageFromAMoveUntilLeaveOrPress)
{
    CSkinButton button;
    Make(button, BS_PUSHBUTTON);
    auto face = [&]() {
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, 0);
        return canvas.Pixel(1, 1);
    };
    EXPECT_EQ(kNormal, face());
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, 0, 35, 10);
    EXPECT_EQ(kHover, face());
    button.SendMessage(WM_MOUSELEAVE);
    EXPECT_EQ(kNormal, face());
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, 0, 35, 10);
    Click(button.m_hWnd);
    EXPECT_EQ(kNormal, face()) << "a press cancels hover";
    MouseAt(button.m_hWnd, WM_MOUSEMOVE, 0, 35, 10);
    EXPECT_EQ(kHover, face());
}

// Records what a tooltip window is asked to relay.
LRESULT CALLBACK RecordRelay(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref)
{
    if (message == TTM_RELAYEVENT)
        reinterpret_cast<std::vector<MSG>*>(ref)->push_back(*reinterpret_cast<const MSG*>(lParam));
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}

BOOL CALLBACK CollectTooltips(HWND hWnd, LPARAM lParam)
{
    char cls[64] = "";
    ::GetClassNameA(hWnd, cls, sizeof cls);
    if (lstrcmpiA(cls, TOOLTIPS_CLASSA) == 0)
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

TEST_F(SkinButtonBehaviour, MouseMessagesAreRelayedToTheTooltipWhichGoesWithTheButton)
{
    auto button = std::make_unique<CSkinButton>();
    Make(*button, BS_PUSHBUTTON);
    ASSERT_TRUE(button->SetTooltipText("取消升级"));
    std::vector<HWND> tooltips;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectTooltips, reinterpret_cast<LPARAM>(&tooltips));
    ASSERT_EQ(1u, tooltips.size());
    std::vector<MSG> relayed;
    ::SetWindowSubclass(tooltips[0], RecordRelay, 1, reinterpret_cast<DWORD_PTR>(&relayed));

    MouseAt(button->m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 35, 10);
    MouseAt(button->m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, -3, 7);
    MouseAt(button->m_hWnd, WM_LBUTTONUP, 0, -3, 7);
    ASSERT_EQ(3u, relayed.size());
    const UINT expected[] = {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(button->m_hWnd, relayed[i].hwnd);
        EXPECT_EQ(expected[i], relayed[i].message);
    }
    EXPECT_EQ(MAKELPARAM(-3, 7), relayed[1].lParam);
    EXPECT_EQ(-3, relayed[1].pt.x);
    EXPECT_EQ(7, relayed[1].pt.y);

    ::RemoveWindowSubclass(tooltips[0], RecordRelay, 1);
    button.reset();
    EXPECT_FALSE(::IsWindow(tooltips[0]));
}

TEST_F(SkinButtonBehaviour, SetBitmapsClampsDrawModeAndShapesTheWindowInModeZero)
{
    const struct {
        short nMode;
        COLORREF crAtRow10; // Halves: tiling repeats the red top half there, stretching shows blue
    } modes[] = {{7, RGB(255, 0, 0)}, {2, RGB(255, 0, 0)}, {1, RGB(0, 0, 255)}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.nMode);
        CSkinButton button;
        Make(button, BS_PUSHBUTTON);
        button.SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, m.nMode, 0, 0);
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, 0);
        EXPECT_EQ(m.crAtRow10, canvas.Pixel(1, 10));
    }

    CSkinButton shaped;
    Make(shaped, BS_PUSHBUTTON);
    shaped.SetBitmaps(IDB_TEST_SHAPE, 0, 0, 0, 0, -3, 0, 0);
    RECT rc;
    ::GetWindowRect(shaped.m_hWnd, &rc);
    EXPECT_EQ(24, rc.right - rc.left);
    EXPECT_EQ(12, rc.bottom - rc.top);
    CRgn rgn;
    rgn.CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, ::GetWindowRgn(shaped.m_hWnd, rgn));
    EXPECT_FALSE(::PtInRegion(rgn, 1, 6));
    EXPECT_TRUE(::PtInRegion(rgn, 10, 6));

    // Mode 0 without a normal image: same size, no region.
    shaped.SetBitmaps(0, 0, 0, 0, 0, 0, 0, 0);
    ::GetWindowRect(shaped.m_hWnd, &rc);
    EXPECT_EQ(24, rc.right - rc.left);
    EXPECT_EQ(ERROR, ::GetWindowRgn(shaped.m_hWnd, rgn));
}

BOOL CALLBACK CountWindow(HWND, LPARAM lParam)
{
    ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

TEST_F(SkinButtonBehaviour, ManyButtonsLeaveNoGdiObjectsOrWindowsBehind)
{
    auto cycle = [&]() {
        CSkinButton shaped, stretched;
        Make(shaped, BS_AUTOCHECKBOX, 1, 10);
        Make(stretched, BS_PUSHBUTTON, 2, 100);
        shaped.SetBitmaps(IDB_TEST_SHAPE, IDB_TEST_PRESSED, IDB_TEST_HOVER, IDB_TEST_DISABLED, IDB_TEST_FOCUS,
                          0, 1, 2);
        stretched.SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, 0, IDB_BUTTON_SKIN, 2, 0, 0);
        stretched.SetTooltipText("tip");
        Click(shaped.m_hWnd, 12, 6);
        Click(stretched.m_hWnd);
        ::RedrawWindow(m_parent.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpPending();
    };
    auto windows = []() {
        int n = 0;
        ::EnumThreadWindows(::GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&n));
        return n;
    };
    cycle(); // first use may fill caches
    const long nGdiBefore = GdiObjectsInUse();
    const int nWindowsBefore = windows();
    for (int i = 0; i < 40; ++i)
        cycle();
    EXPECT_EQ(nGdiBefore, GdiObjectsInUse());
    EXPECT_EQ(nWindowsBefore, windows());
}

} // namespace
