// Drawing, checked by reading pixels back from memory DCs: the three draw modes and
// the face, caption, focus rectangle and edges that DrawItem picks for each state.
#include "SkinButtonTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

COLORREF Gradient(int x, int y)
{
    return RGB(x * 8, y * 12, 77);
}

// Pixels of the canvas that are not what expected(x, y) says.
template<class F> int CountWrong(const CCanvas& canvas, F expected)
{
    int nWrong = 0;
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x)
            if (canvas.Pixel(x, y) != expected(x, y))
                ++nWrong;
    return nWrong;
}

bool Inside(const RECT& rc, int x, int y)
{
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

TEST(TileBitmap, TilesFromTheTopLeftAndCutsTheLastRowAndColumn)
{
    CSkinButton button;
    CBitmap image = MakeBitmap(30, 20, Gradient);
    for (const RECT& rc : {RECT{0, 0, 70, 20}, RECT{5, 3, 75, 48}}) {
        SCOPED_TRACE(testing::Message() << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom);
        CCanvas canvas(90, 60, kSentinel);
        button.TileBitmap(canvas, image, rc);
        EXPECT_EQ(0, CountWrong(canvas, [&](int x, int y) {
                      return Inside(rc, x, y) ? Gradient((x - rc.left) % 30, (y - rc.top) % 20) : kSentinel;
                  }));
    }
}

TEST(DrawBitmap, StretchShrinksTheWholeImageIntoTheRectangle)
{
    CSkinButton button;
    // Left half red, right half blue; after shrinking 80 x 21 into 70 x 20 the halves
    // meet near x = 35.
    CBitmap image = MakeBitmap(80, 21, [](int x, int) { return x < 40 ? RGB(255, 0, 0) : RGB(0, 0, 255); });
    CCanvas canvas(90, 30, kSentinel);
    button.DrawBitmap(canvas, image, RECT{0, 0, 70, 20}, 1);
    EXPECT_EQ(0, CountWrong(canvas, [&](int x, int y) {
                  if (x >= 70 || y >= 20)
                      return kSentinel;
                  if (x >= 34 && x <= 35)
                      return canvas.Pixel(x, y); // the seam depends on the stretch mode
                  return x < 34 ? RGB(255, 0, 0) : RGB(0, 0, 255);
              }));
}

TEST(DrawBitmap, CopyIsClippedToTheWindowRegionAndDrawsNothingWithoutOne)
{
    CTestParent parent;
    CSkinButton shaped, plain;
    ASSERT_TRUE(shaped.Create("", WS_CHILD | WS_VISIBLE, RECT{0, 0, 70, 20}, &parent, 1));
    ASSERT_TRUE(plain.Create("", WS_CHILD | WS_VISIBLE, RECT{0, 30, 70, 50}, &parent, 2));
    CRgn left;
    left.CreateRectRgn(0, 0, 35, 20);
    ASSERT_TRUE(shaped.SetWindowRgn(left, TRUE));
    CBitmap image = MakeBitmap(70, 20, Gradient);

    CCanvas canvas(80, 25, kSentinel);
    shaped.DrawBitmap(canvas, image, RECT{0, 0, 70, 20}, 0);
    EXPECT_EQ(0,
              CountWrong(canvas, [](int x, int y) { return x < 35 && y < 20 ? Gradient(x, y) : kSentinel; }));
    CRgn clip;
    clip.CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(0, ::GetClipRgn(canvas, clip)); // the clip region is removed again

    CCanvas untouched(80, 25, kSentinel);
    plain.DrawBitmap(untouched, image, RECT{0, 0, 70, 20}, 0);
    EXPECT_EQ(0, CountWrong(untouched, [](int, int) { return kSentinel; }));
}

TEST(DrawBitmap, NullImageDrawsNothingInAnyMode)
{
    CTestParent parent;
    CSkinButton button;
    ASSERT_TRUE(button.Create("", WS_CHILD | WS_VISIBLE, RECT{0, 0, 70, 20}, &parent, 1));
    CCanvas canvas(70, 20, kSentinel);
    for (short nMode : {short(0), short(1), short(2)})
        button.DrawBitmap(canvas, nullptr, RECT{0, 0, 70, 20}, nMode);
    button.TileBitmap(canvas, nullptr, RECT{0, 0, 70, 20});
    EXPECT_EQ(0, CountWrong(canvas, [](int, int) { return kSentinel; }));
}

// DrawItem on a real button: the button's state that comes from messages (hover,
// checked) is set through messages.
class DrawItemTest : public testing::Test {
protected:
    CTestParent m_parent;

    void Make(CSkinButton& button, const UINT (&ids)[5], short nInset = 0, short nBorder = 0,
              const char* pszCaption = "")
    {
        ASSERT_TRUE(button.Create(pszCaption, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, RECT{10, 10, 80, 30},
                                  &m_parent, 7));
        button.SetBitmaps(ids[0], ids[1], ids[2], ids[3], ids[4], 1, nBorder, nInset);
        button.SetTextColor(RGB(255, 0, 0));
    }
    static void Hover(CSkinButton& button) { MouseAt(button.m_hWnd, WM_MOUSEMOVE, 0, 35, 10); }
};

const UINT kAll[5] = {IDB_TEST_NORMAL, IDB_TEST_PRESSED, IDB_TEST_HOVER, IDB_TEST_DISABLED, IDB_TEST_FOCUS};
const UINT kNormalOnly[5] = {IDB_TEST_NORMAL, 0, 0, 0, 0};
const UINT kHoverOnly[5] = {0, 0, IDB_TEST_HOVER, 0, 0};
const UINT kFocusOnly[5] = {0, 0, 0, 0, IDB_TEST_FOCUS};
const UINT kNone[5] = {0, 0, 0, 0, 0};
const COLORREF kButtonFace = 0xFFFFFFFF; // stands for GetSysColor(COLOR_BTNFACE)

TEST_F(DrawItemTest, EachStateShowsTheImageOfItsSlotOrTheFaceColour)
{
    const struct {
        const char* name;
        const UINT (&ids)[5];
        UINT nState;
        bool bHover, bChecked;
        COLORREF crExpected;
    } cases[] = {
        {"disabled comes first", kAll, ODS_DISABLED | ODS_SELECTED | ODS_FOCUS, true, true, kDisabled},
        {"selected", kAll, ODS_SELECTED | ODS_FOCUS, true, false, kPressed},
        {"checked", kAll, 0, false, true, kPressed},
        {"hover before focus", kAll, ODS_FOCUS, true, false, kHover},
        {"focus", kAll, ODS_FOCUS, false, false, kFocus},
        {"normal", kAll, 0, false, false, kNormal},
        {"disabled repeats the normal image", kNormalOnly, ODS_DISABLED, false, false, kNormal},
        {"empty pressed slot", kNormalOnly, ODS_SELECTED, false, false, kButtonFace},
        {"empty hover slot", kNormalOnly, 0, true, false, kNormal},
        {"empty focus slot", kNormalOnly, ODS_FOCUS, false, false, kNormal},
        {"hover without a normal image", kHoverOnly, 0, true, false, kButtonFace},
        {"focus without a normal image", kFocusOnly, ODS_FOCUS, false, false, kButtonFace},
        {"no images, disabled", kNone, ODS_DISABLED, false, false, kButtonFace},
        {"no images, checked", kNone, 0, false, true, kButtonFace},
        {"no images, normal", kNone, 0, false, false, kButtonFace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CSkinButton button;
        Make(button, c.ids);
        if (c.bChecked)
            button.SendMessage(BM_SETCHECK, BST_CHECKED);
        if (c.bHover)
            Hover(button);
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, c.nState);
        const COLORREF crExpected = c.crExpected == kButtonFace ? ::GetSysColor(COLOR_BTNFACE) : c.crExpected;
        EXPECT_EQ(0, CountWrong(canvas, [&](int, int) { return crExpected; }));
    }
}

TEST_F(DrawItemTest, DisabledCaptionIsGreyAndEnabledCaptionHasTheTextColour)
{
    // Olive face (no blue) and red text: only a grey caption brings blue in.
    CSkinButton button;
    const UINT ids[5] = {IDB_TEST_DISABLED, 0, 0, 0, 0};
    Make(button, ids, 0, 0, "Ag");
    for (UINT nState : {0u, UINT(ODS_DISABLED)}) {
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, nState);
        const std::vector<POINT> caption = PixelsOtherThan(canvas, kDisabled);
        ASSERT_FALSE(caption.empty());
        int nBlue = 0;
        for (const POINT& pt : caption)
            nBlue += GetBValue(canvas.Pixel(pt.x, pt.y)) > 0;
        if (nState == ODS_DISABLED)
            EXPECT_GT(nBlue, 0) << "grey caption";
        else
            EXPECT_EQ(0, nBlue) << "red caption";
    }
}

TEST_F(DrawItemTest, PressedCaptionMovesOnePixelRightAndDown)
{
    CSkinButton button;
    Make(button, kAll, 0, 0, "Ag");
    CCanvas normal(70, 20, kSentinel), pressed(70, 20, kSentinel);
    DrawInto(button, normal, 0);
    DrawInto(button, pressed, ODS_SELECTED);
    RECT rcNormal = Bounds(PixelsOtherThan(normal, kNormal));
    const RECT rcPressed = Bounds(PixelsOtherThan(pressed, kPressed));
    ASSERT_LT(rcNormal.left, rcNormal.right);
    ::OffsetRect(&rcNormal, 1, 1);
    EXPECT_TRUE(::EqualRect(&rcNormal, &rcPressed));
}

TEST_F(DrawItemTest, CaptionKeepsTwoPixelsPlusTheFocusInsetFromEachSide)
{
    for (short nInset : {short(-1), short(0), short(3)}) {
        SCOPED_TRACE(nInset);
        CSkinButton button;
        Make(button, kAll, nInset, 0, "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM");
        CCanvas canvas(70, 20, kSentinel);
        DrawInto(button, canvas, 0);
        const RECT rc = Bounds(PixelsOtherThan(canvas, kNormal));
        const int nMargin = 2 + (nInset > 0 ? nInset : 0);
        // The caption is cut at the margins; some stroke lies within 3 pixels of each.
        EXPECT_GE(rc.left, nMargin);
        EXPECT_LE(rc.left, nMargin + 3);
        EXPECT_LE(rc.right, 70 - nMargin);
        EXPECT_GE(rc.right, 70 - nMargin - 3);
    }
}

TEST_F(DrawItemTest, FocusRectangleLiesAtTheInsetAndNeverWhenDisabledOrInsetZero)
{
    for (short nInset : {short(0), short(3)}) {
        for (UINT nExtra : {0u, UINT(ODS_DISABLED)}) {
            SCOPED_TRACE(testing::Message() << "inset " << nInset << " state " << nExtra);
            CSkinButton button;
            Make(button, kAll, nInset);
            CCanvas plain(70, 20, kSentinel), focused(70, 20, kSentinel);
            DrawInto(button, plain, nExtra);
            DrawInto(button, focused, nExtra | ODS_FOCUS);
            const COLORREF crFace = nExtra ? kDisabled : kFocus;
            const std::vector<POINT> changed = PixelsOtherThan(focused, crFace);
            if (nInset == 0 || nExtra) {
                EXPECT_TRUE(changed.empty());
                continue;
            }
            ASSERT_FALSE(changed.empty());
            for (const POINT& pt : changed) {
                const bool bOnFrame = ((pt.x == 3 || pt.x == 66) && pt.y >= 3 && pt.y <= 16)
                                      || ((pt.y == 3 || pt.y == 16) && pt.x >= 3 && pt.x <= 66);
                EXPECT_TRUE(bOnFrame) << pt.x << "," << pt.y;
            }
            const RECT rc = Bounds(changed);
            const RECT expected = {3, 3, 67, 17};
            EXPECT_TRUE(::EqualRect(&rc, &expected));
        }
    }
}

TEST_F(DrawItemTest, NotifierButtonStretchesTheSkinAndCentresItsCaption)
{
    CSkinButton button;
    ASSERT_TRUE(button.Create("取消升级", WS_CHILD | WS_VISIBLE, RECT{120, 70, 190, 90}, &m_parent, 305010));
    button.SetTextColor(RGB(255, 255, 255));
    button.SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, 1,
                      0, 0);
    RECT rcWindow;
    ::GetWindowRect(button.m_hWnd, &rcWindow);
    EXPECT_EQ(70, rcWindow.right - rcWindow.left);
    EXPECT_EQ(20, rcWindow.bottom - rcWindow.top);

    CCanvas canvas(70, 20, kSentinel);
    DrawInto(button, canvas, 0);
    EXPECT_NE(kSkinFace, canvas.Pixel(0, 0)); // the grey border, shrunk with the rest
    EXPECT_EQ(kSkinFace, canvas.Pixel(2, 2));
    EXPECT_EQ(kSkinFace, canvas.Pixel(67, 17));
    std::vector<POINT> caption;
    for (const POINT& pt : PixelsOtherThan(canvas, kSkinFace))
        if (GetBValue(canvas.Pixel(pt.x, pt.y)) > 194) // lighter than the face: the white caption
            caption.push_back(pt);
    ASSERT_FALSE(caption.empty());
    const RECT rc = Bounds(caption);
    EXPECT_LE(std::abs((rc.left - 2) - (68 - rc.right)), 1) << rc.left << ".." << rc.right;
}

} // namespace
