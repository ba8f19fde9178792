// GDI wrappers own exactly one handle; DC scopes and the select guard put back what
// was selected, on the right DC.
#include "TestWindows.h"
#include "framework/DeviceContexts.h"
#include "framework/GdiObjects.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

bool IsLive(HGDIOBJ h)
{
    return ::GetObjectType(h) != 0;
}

TEST(GdiObjects, WrapperOwnsOneHandleThroughMovesReplacementAndDetach)
{
    HRGN hFirst = nullptr, hSecond = nullptr;
    {
        CRgn a;
        ASSERT_TRUE(a.CreateRectRgn(0, 0, 1, 1));
        hFirst = a;
        CRgn b(std::move(a));
        EXPECT_TRUE(a.IsNull());
        EXPECT_EQ(hFirst, b.GetSafeHandle());

        CRgn c;
        c.CreateRectRgn(0, 0, 2, 2);
        hSecond = c;
        c = std::move(b); // the handle c held is freed
        EXPECT_FALSE(IsLive(hSecond));
        EXPECT_EQ(hFirst, c.GetSafeHandle());

        c.CreateRectRgn(0, 0, 3, 3); // replacing frees the old one too
        EXPECT_FALSE(IsLive(hFirst));
        hSecond = c.Detach();
    }
    EXPECT_TRUE(IsLive(hSecond)); // detached: no longer ours to free
    ::DeleteObject(hSecond);
}

TEST(DeviceContexts, SelectGuardRestoresTheDcItWasMadeFor)
{
    CMemDC a(nullptr), b(nullptr);
    const HGDIOBJ hOriginalA = ::GetCurrentObject(a, OBJ_BITMAP);
    CBitmap bmpA(::CreateCompatibleBitmap(a, 4, 4));
    CBitmap bmpB(::CreateCompatibleBitmap(b, 4, 4));
    ::SelectObject(b, bmpB);
    {
        CSelectObject guard(a, bmpA);
        EXPECT_TRUE(guard.Succeeded());
        EXPECT_EQ(static_cast<HGDIOBJ>(bmpA), ::GetCurrentObject(a, OBJ_BITMAP));
    }
    EXPECT_EQ(hOriginalA, ::GetCurrentObject(a, OBJ_BITMAP));
    EXPECT_EQ(static_cast<HGDIOBJ>(bmpB), ::GetCurrentObject(b, OBJ_BITMAP));
}

TEST(DeviceContexts, ScopeRestoresSelectionsOfADcThatOutlivesIt)
{
    // A class DC lives as long as its window, so a selection left in it would stay.
    const std::string cls = CWnd::RegisterWndClass(CS_OWNDC);
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, cls.c_str(), "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    CFont font;
    font.CreatePointFont(120, "Arial");
    HGDIOBJ hBefore;
    {
        CClientDC dc(wnd.m_hWnd);
        hBefore = ::GetCurrentObject(dc, OBJ_FONT);
        ::SelectObject(dc, font);
    }
    HDC hDC = ::GetDC(wnd.m_hWnd);
    EXPECT_EQ(hBefore, ::GetCurrentObject(hDC, OBJ_FONT));
    ::ReleaseDC(wnd.m_hWnd, hDC);
    EXPECT_TRUE(font.DeleteObject()); // not selected anywhere any more
}

TEST(WindowRegion, SystemTakesTheRegionOnlyWhenSettingItSucceeds)
{
    CTestParent wnd;
    CRgn rgn;
    rgn.CreateRectRgn(0, 0, 5, 5);
    ASSERT_TRUE(wnd.SetWindowRgn(rgn, TRUE));
    EXPECT_TRUE(rgn.IsNull());
    CRgn copy;
    copy.CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(SIMPLEREGION, ::GetWindowRgn(wnd.m_hWnd, copy));

    CWnd none; // no window: the call fails and the wrapper keeps its handle
    rgn.CreateRectRgn(0, 0, 5, 5);
    EXPECT_FALSE(none.SetWindowRgn(rgn, TRUE));
    EXPECT_FALSE(rgn.IsNull());
}

} // namespace
