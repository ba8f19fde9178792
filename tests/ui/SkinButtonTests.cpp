// The skinned button: regions from a key colour, the draw modes and what each state
// paints (pixels read back from memory DCs), and its behaviour through real messages
// on a visible parent.
#include "TestResources.h"
#include "TestWindows.h"
#include "ui/SkinButton.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

// The colours of the test images.
const COLORREF kNormal = RGB(0, 128, 0), kPressed = RGB(0, 0, 160), kHover = RGB(160, 0, 160),
               kDisabled = RGB(96, 96, 0), kFocus = RGB(0, 128, 128), kSentinel = RGB(1, 2, 3);
const COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255);
// The test images of the five slots: normal, pressed, hover, disabled, focus.
const UINT kAll[5] = {IDB_TEST_NORMAL, IDB_TEST_PRESSED, IDB_TEST_HOVER, IDB_TEST_DISABLED, IDB_TEST_FOCUS};

const auto Gradient = [](int x, int y) { return RGB(x * 8, y * 12, 77); };

// Draws the button as its parent's WM_DRAWITEM would, into a 70 x 20 canvas.
void DrawInto(CSkinButton& button, HDC hDC, UINT nState)
{
    DRAWITEMSTRUCT dis = {ODT_BUTTON, 7, 0, ODA_DRAWENTIRE, nState, button.m_hWnd, hDC, {0, 0, 70, 20}, 0};
    button.DrawItem(&dis);
}

// Puts the cursor on a client point of the window and sends the mouse message there.
void MouseAt(HWND hWnd, UINT message, WPARAM wParam, int x = 35, int y = 10)
{
    POINT pt = {x, y};
    ::ClientToScreen(hWnd, &pt);
    ::SetCursorPos(pt.x, pt.y);
    ::SendMessageA(hWnd, message, wParam, MAKELPARAM(x, y));
}

// The region holds exactly the pixels not of the key colour; the draw modes tile, stretch
// and copy, the copy clipped to the window's region.
TEST(SkinButtonArt, RegionFromTheKeyColourAndTheDrawModes)
{
    CTestParent parent;
    CSkinButton shaped, plain;
    ASSERT_TRUE(shaped.Create("", WS_CHILD, RECT{0, 0, 70, 20}, &parent, 1));
    ASSERT_TRUE(plain.Create("", WS_CHILD, RECT{0, 30, 70, 50}, &parent, 2));
    const struct {
        int cx, cy;
        std::function<bool(int, int)> opaque;
    } cases[] = {
        {5, 1, [](int x, int) { return x == 1 || x == 2 || x == 4; }},
        {4, 3, [](int, int) { return false; }},
        {6, 4, [](int, int) { return true; }},
        {5, 2, [](int x, int y) { return y == 0 ? x == 4 : x == 0; }}, // a run closed by the row's end
        {16, 10, [](int x, int y) { return (x + y) % 2 == 0; }},       // 80 runs: the list grows twice
    };
    for (const auto& c : cases) {
        CBitmap image = MakeBitmap(c.cx, c.cy, [&](int x, int y) { return c.opaque(x, y) ? kRed : kWhite; });
        CRgn rgn(plain.CreateRegionFromBitmap(image, kWhite));
        int nWrong = 0; // over the image and a frame of one pixel around it
        for (int y = -1; y <= c.cy; ++y)
            for (int x = -1; x <= c.cx; ++x)
                nWrong +=
                    (x >= 0 && y >= 0 && x < c.cx && y < c.cy && c.opaque(x, y)) != !!::PtInRegion(rgn, x, y);
        EXPECT_EQ(nWrong, 0) << c.cx << " x " << c.cy;
    }
    CRgn left(::CreateRectRgn(0, 0, 35, 20));
    ASSERT_TRUE(shaped.SetWindowRgn(left, TRUE));
    CBitmap gradient = MakeBitmap(30, 20, Gradient);
    CBitmap halves = MakeBitmap(80, 21, [](int x, int) { return x < 40 ? kRed : kBlue; });
    const RECT rc = {5, 3, 75, 48}; // not a whole number of tiles
    CCanvas tiled(90, 60, kSentinel), stretched(90, 30, kSentinel), copied(80, 25, kSentinel),
        untouched(80, 25, kSentinel);
    shaped.DrawBitmap(tiled, gradient, rc, 2);
    plain.DrawBitmap(stretched, halves, RECT{0, 0, 70, 20}, 1); // 80 x 21 into 70 x 20: halves meet near 35
    shaped.DrawBitmap(copied, gradient, RECT{0, 0, 70, 20}, 0);
    plain.DrawBitmap(untouched, gradient, RECT{0, 0, 70, 20}, 0); // no region, nothing drawn
    EXPECT_EQ(tiled.CountWrong([&](int x, int y) {
        return ::PtInRect(&rc, POINT{x, y}) ? Gradient((x - rc.left) % 30, (y - rc.top) % 20) : kSentinel;
    }),
              0);
    EXPECT_EQ(stretched.CountWrong([&](int x, int y) {
        return x >= 70 || y >= 20   ? kSentinel
               : x == 34 || x == 35 ? stretched.Pixel(x, y)
               : x < 34             ? kRed
                                    : kBlue;
    }),
              0);
    EXPECT_EQ(copied.CountWrong([](int x, int y) { return x < 30 && y < 20 ? Gradient(x, y) : kSentinel; }),
              0);
    EXPECT_EQ(untouched.CountWrong([](int, int) { return kSentinel; }), 0);
}

class SkinButton : public testing::Test {
protected:
    void Make(CSkinButton& button, DWORD dwStyle, UINT nID = 7, int x = 10, const char* caption = "")
    {
        ASSERT_TRUE(
            button.Create(caption, WS_CHILD | WS_VISIBLE | dwStyle, RECT{x, 10, x + 70, 30}, &m_parent, nID));
        button.SetBitmaps(kAll[0], kAll[1], kAll[2], kAll[3], kAll[4], 1, 0, 3);
        button.SetTextColor(kRed);
    }
    static int Check(const CSkinButton& button) { return static_cast<int>(button.SendMessage(BM_GETCHECK)); }
    CTestParent m_parent;
};

TEST_F(SkinButton, EachStatePaintsItsSlotsImageCaptionAndFocus)
{
    const UINT kNormalOnly[5] = {IDB_TEST_NORMAL, 0, 0, 0, 0}, kNone[5] = {};
    const COLORREF kFace = ::GetSysColor(COLOR_BTNFACE);
    const struct {
        const UINT* ids;
        UINT nState;
        bool bHover, bChecked;
        COLORREF crFace;
    } cases[] = {
        {kAll, ODS_DISABLED | ODS_SELECTED | ODS_FOCUS, true, true, kDisabled}, // disabled comes first
        {kAll, ODS_SELECTED | ODS_FOCUS, true, false, kPressed},
        {kAll, 0, false, true, kPressed},
        {kAll, ODS_FOCUS, true, false, kHover},
        {kAll, ODS_FOCUS, false, false, kFocus},
        {kNormalOnly, ODS_DISABLED, false, false, kNormal}, // the disabled slot repeats the normal image
        {kNormalOnly, ODS_SELECTED, true, false, kFace},
        {kNone, 0, true, false, kFace},
    };
    for (const auto& c : cases) {
        CSkinButton button;
        Make(button, BS_AUTOCHECKBOX);
        button.SetBitmaps(c.ids[0], c.ids[1], c.ids[2], c.ids[3], c.ids[4], 1, 0, 0);
        button.SendMessage(BM_SETCHECK, c.bChecked);
        if (c.bHover)
            MouseAt(button.m_hWnd, WM_MOUSEMOVE, 0);
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, c.nState);
        EXPECT_EQ(canvas.CountWrong([&](int, int) { return c.crFace; }), 0) << &c - cases;
    }
    // The caption's colour and its offset when pressed, and the focus rectangle.
    CSkinButton button;
    Make(button, BS_PUSHBUTTON, 7, 10, "Ag");
    CCanvas normal(70, 20, kSentinel), pressed(70, 20, kSentinel), disabled(70, 20, kSentinel),
        focused(70, 20, kSentinel);
    DrawInto(button, normal, 0);
    DrawInto(button, pressed, ODS_SELECTED);
    DrawInto(button, disabled, ODS_DISABLED | ODS_FOCUS);
    RECT rc = normal.BoundsOtherThan(kNormal), rcPressed = pressed.BoundsOtherThan(kPressed);
    ::OffsetRect(&rc, 1, 1);
    EXPECT_TRUE(::EqualRect(&rc, &rcPressed)) << "pressed caption one pixel right and down";
    // Green and olive faces and a red caption have no blue: only a grey caption brings some.
    const auto blue = [](const CCanvas& c) {
        return c.CountWrong([&](int x, int y) { return GetBValue(c.Pixel(x, y)) ? 0 : c.Pixel(x, y); });
    };
    EXPECT_EQ(blue(normal), 0);
    EXPECT_GT(blue(disabled), 0);
    EXPECT_GT(disabled.BoundsOtherThan(kDisabled).left, 3) << "no focus rectangle when disabled";
    ::SetWindowTextA(button.m_hWnd, "");
    DrawInto(button, focused, ODS_FOCUS);
    const RECT rcFocus = focused.BoundsOtherThan(kFocus), expected = {3, 3, 67, 17};
    EXPECT_TRUE(::EqualRect(&rcFocus, &expected)) << "focus rectangle at the inset";
}

TEST_F(SkinButton, KindFromTheStyleTheCheckBeforeTheParentHearsOfItAndRadioGroups)
{
    const struct {
        DWORD dwStyle;
        std::vector<int> checks; // after three clicks, a double-click, then three space keys
    } cases[] = {
        {BS_PUSHBUTTON, {0, 0, 0, 0, 0, 0, 0}},
        {BS_AUTOCHECKBOX, {1, 0, 1, 0, 1, 0, 1}},
        {BS_AUTORADIOBUTTON, {1, 1, 1, 1, 1, 1, 1}},
        {BS_RADIOBUTTON, {0, 0, 0, 0, 0, 0, 0}}, // a push button, yet owner-drawn
    };
    for (const auto& c : cases) {
        m_parent.m_commands.clear();
        CSkinButton button;
        Make(button, c.dwStyle);
        EXPECT_EQ(button.GetStyle() & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW));
        std::vector<int> checks, seenByParent;
        for (const UINT down : {WM_LBUTTONDOWN, WM_LBUTTONDOWN, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}) {
            MouseAt(button.m_hWnd, down, MK_LBUTTON);
            MouseAt(button.m_hWnd, WM_LBUTTONUP, 0);
            checks.push_back(Check(button));
            seenByParent.push_back(m_parent.m_commands.empty() ? -1 : m_parent.m_commands.back().nCheck);
        }
        ::SetFocus(button.m_hWnd);
        for (const LPARAM repeat : {LPARAM(1), LPARAM(1) | (1 << 30), LPARAM(1) | (1 << 30)}) {
            button.SendMessage(WM_KEYDOWN, VK_SPACE, repeat);
            checks.push_back(Check(button));
        }
        button.SendMessage(WM_KEYUP, VK_SPACE, LPARAM(1) | (3u << 30));
        EXPECT_EQ(checks, c.checks) << c.dwStyle;
        EXPECT_EQ(seenByParent, std::vector<int>(c.checks.begin(), c.checks.begin() + 4));
        ASSERT_EQ(m_parent.m_commands.size(), 5u) << "a double-click is a second click";
        for (const auto& command : m_parent.m_commands)
            EXPECT_EQ(command.nCode, static_cast<UINT>(BN_CLICKED));
    }
    CSkinButton radios[4];
    for (int i = 0; i < 4; ++i) {
        Make(radios[i], BS_AUTORADIOBUTTON, 101 + i, 10 + 75 * i);
        radios[i].SendMessage(BM_SETCHECK, BST_CHECKED);
        radios[i].SetRadioGroup(101, 103);
    }
    MouseAt(radios[1].m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON);
    MouseAt(radios[1].m_hWnd, WM_LBUTTONUP, 0);
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(Check(radios[0]) + Check(radios[1]) * 2 + Check(radios[2]) * 4 + Check(radios[3]) * 8, 2 + 8);
}

LRESULT CALLBACK RecordRelay(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref)
{
    if (message == TTM_RELAYEVENT)
        *reinterpret_cast<POINT*>(ref) = reinterpret_cast<const MSG*>(lParam)->pt;
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}

TEST_F(SkinButton, TooltipRelayAndNoLeaksInAnyState)
{
    auto gallery = [&] {
        CSkinButton buttons[7]; // disabled, pressed, hover, focus, checked, then draw modes 0, 2 and 1
        for (int i = 0; i < 7; ++i)
            Make(buttons[i], i == 4 ? BS_AUTOCHECKBOX : 0, 1 + i, 5 + 55 * i, "Ag");
        buttons[0].EnableWindow(FALSE);
        buttons[1].SetState(TRUE);
        MouseAt(buttons[2].m_hWnd, WM_MOUSEMOVE, 0);
        ::SetFocus(buttons[3].m_hWnd);
        buttons[4].SetCheck(BST_CHECKED);
        ASSERT_TRUE(buttons[4].SetTooltipText("tip"));
        // The relay's point is signed: with the capture held, the pointer may be left of the button.
        POINT relayed = {};
        const HWND hTip = ::FindWindowA(TOOLTIPS_CLASSA, nullptr);
        ::SetWindowSubclass(hTip, RecordRelay, 1, reinterpret_cast<DWORD_PTR>(&relayed));
        MouseAt(buttons[4].m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON);
        MouseAt(buttons[4].m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, -3, 7);
        EXPECT_TRUE(relayed.x == -3 && relayed.y == 7);
        MouseAt(buttons[4].m_hWnd, WM_LBUTTONUP, 0, -3, 7);
        ::RemoveWindowSubclass(hTip, RecordRelay, 1);
        buttons[5].SetBitmaps(IDB_TEST_SHAPE, 0, 0, 0, 0, -3, 1, 0); // mode 0 taken from -3
        buttons[6].SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 2, 0, 0);
        buttons[2].SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 1, 0, 0);
        RECT rc;
        ::GetWindowRect(buttons[5].m_hWnd, &rc);
        EXPECT_EQ(rc.right - rc.left, 24) << "mode 0 takes the image's size";
        ::RedrawWindow(m_parent.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    };
    gallery(); // the first use may fill caches
    const long nGdi = GdiObjectsInUse();
    for (int i = 0; i < 20; ++i)
        gallery();
    EXPECT_EQ(GdiObjectsInUse(), nGdi);
    EXPECT_EQ(::FindWindowA(TOOLTIPS_CLASSA, nullptr), nullptr) << "the tooltip goes with its button";
}

} // namespace
