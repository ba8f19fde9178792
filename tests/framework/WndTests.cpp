// Window objects: attaching and detaching, default processing after nested
// messages, the exception guard, reflection; GDI ownership and scoped DCs.
#include "TestWindows.h"
#include "framework/Button.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

const UINT UM_THROW = WM_USER + 7;

class CProbeWnd : public CWnd {
public:
    std::vector<UINT> m_seen;
    CWnd* m_pAtCreate = nullptr;
    CWnd m_child; // created in WM_CREATE

protected:
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override
    {
        m_seen.push_back(message);
        if (message == WM_CREATE) {
            m_pAtCreate = FromHandle(m_hWnd);
            m_child.CreateEx(0, RegisterWndClass(0).c_str(), "", WS_CHILD, 0, 0, 9, 9, m_hWnd, nullptr);
        }
        if (message == UM_THROW)
            throw std::runtime_error("handler failed");
        if (message == BM_SETCHECK) // Default() must still pass on this message afterwards
            SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("nested"));
        return Default();
    }
};

TEST(WindowObject, AttachedFromTheFirstMessageOrWhenSubclassedUntilNcDestroy)
{
    CProbeWnd wnd;
    ASSERT_TRUE(
        wnd.CreateEx(0, CWnd::RegisterWndClass(0).c_str(), "标题", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr));
    const HWND hWnd = wnd.m_hWnd, hChild = wnd.m_child.m_hWnd;
    EXPECT_NE(std::find(wnd.m_seen.begin(), wnd.m_seen.end(), WM_NCCREATE), wnd.m_seen.end());
    EXPECT_EQ(wnd.m_pAtCreate, &wnd);
    EXPECT_EQ(CWnd::FromHandle(hChild), &wnd.m_child);
    EXPECT_EQ(wnd.GetWindowText(), "标题");
    EXPECT_EQ(::SendMessageA(hWnd, UM_THROW, 0, 0), 0) << "no exception leaves the window procedure";
    // An existing control subclassed once keeps its behaviour through Default.
    const HWND hButton = ::CreateWindowExA(0, "BUTTON", "x", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 60, 20, hWnd,
                                           nullptr, nullptr, nullptr);
    CProbeWnd probe, second;
    ASSERT_TRUE(probe.SubclassWindow(hButton));
    EXPECT_FALSE(second.SubclassWindow(hButton));
    ::SendMessageA(hButton, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(::SendMessageA(hButton, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(probe.GetWindowText(), "nested");
    ASSERT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(wnd.m_child.m_hWnd, nullptr);
    EXPECT_EQ(probe.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandle(hWnd), nullptr);
}

// A control that answers its reflected notifications as told.
class CReflectProbe : public CButton {
public:
    bool m_bConsume = false;
    int m_nReflected = 0, m_nDrawItems = 0;
    void DrawItem(LPDRAWITEMSTRUCT) override { ++m_nDrawItems; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == UM_REFLECT_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            ++m_nReflected;
            return m_bConsume;
        }
        return CButton::WindowProc(message, wParam, lParam);
    }
};

TEST(Reflection, ControlDecidesWhetherItsParentHearsOfIt)
{
    CTestParent parent, other;
    CReflectProbe passes, consumes, foreign;
    ASSERT_TRUE(passes.Create("p", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, RECT{0, 0, 60, 20}, &parent, 1));
    ASSERT_TRUE(consumes.Create("c", WS_CHILD, RECT{0, 30, 60, 50}, &parent, 2));
    ASSERT_TRUE(foreign.Create("f", WS_CHILD, RECT{0, 0, 60, 20}, &other, 3));
    const HWND hRaw = ::CreateWindowExA(0, "BUTTON", "r", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 70, 0, 60, 20,
                                        parent.m_hWnd, reinterpret_cast<HMENU>(4), nullptr, nullptr);
    consumes.m_bConsume = true;
    for (const HWND hControl : {passes.m_hWnd, consumes.m_hWnd, foreign.m_hWnd, hRaw})
        ::SendMessageA(parent.m_hWnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hControl), BN_CLICKED),
                       reinterpret_cast<LPARAM>(hControl));
    EXPECT_EQ(passes.m_nReflected + consumes.m_nReflected + foreign.m_nReflected, 2);
    ASSERT_EQ(parent.m_commands.size(), 3u);
    EXPECT_EQ(parent.m_commands[1].hControl, foreign.m_hWnd) << "another window's control is not reflected";

    // The owner-drawn control with an object draws itself; the parent draws the other.
    ::RedrawWindow(parent.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_GE(passes.m_nDrawItems, 1);
    EXPECT_GE(parent.m_nDrawItems, 1);
    const int nParentDraws = parent.m_nDrawItems;
    ::RedrawWindow(passes.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(parent.m_nDrawItems, nParentDraws);
}

TEST(GdiObjects, OneHandleEachAndScopesPutBackWhatTheySelected)
{
    CRgn a, c;
    ASSERT_TRUE(a.CreateRectRgn(0, 0, 1, 1) && c.CreateRectRgn(0, 0, 2, 2));
    const HRGN hFirst = a, hSecond = c;
    CRgn b(std::move(a));
    EXPECT_TRUE(a.IsNull());
    c = std::move(b);
    EXPECT_FALSE(::GetObjectType(hSecond)) << "the handle replaced by a move is freed";
    c.CreateRectRgn(0, 0, 3, 3);
    EXPECT_FALSE(::GetObjectType(hFirst)) << "the handle replaced by a new one is freed";
    const HRGN hDetached = c.Detach();
    c.CreateRectRgn(0, 0, 1, 1);
    EXPECT_TRUE(::GetObjectType(hDetached));
    ::DeleteObject(hDetached);

    // Device contexts: scopes and guards put back what was selected, each on its own DC.
    CMemDC one(nullptr), two(nullptr);
    CBitmap bmpA(::CreateCompatibleBitmap(one, 4, 4)), bmpB(::CreateCompatibleBitmap(two, 4, 4));
    const HGDIOBJ hOriginal = ::GetCurrentObject(one, OBJ_BITMAP);
    ::SelectObject(two, bmpB);
    {
        CSelectObject guard(one, bmpA);
        EXPECT_EQ(::GetCurrentObject(one, OBJ_BITMAP), static_cast<HGDIOBJ>(bmpA));
    }
    EXPECT_EQ(::GetCurrentObject(one, OBJ_BITMAP), hOriginal);
    EXPECT_EQ(::GetCurrentObject(two, OBJ_BITMAP), static_cast<HGDIOBJ>(bmpB));

    // A class DC lives as long as its window: a selection left in it would stay.
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, CWnd::RegisterWndClass(CS_OWNDC).c_str(), "", WS_POPUP, 0, 0, 9, 9, nullptr,
                             nullptr));
    CFont font;
    font.CreatePointFont(120, "Arial");
    HGDIOBJ hBefore;
    {
        CClientDC dc(wnd.m_hWnd);
        hBefore = ::GetCurrentObject(dc, OBJ_FONT);
        ::SelectObject(dc, font);
    }
    CClientDC dc(wnd.m_hWnd);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), hBefore);

    // The system owns a window's region only once it took it.
    CWnd none;
    EXPECT_FALSE(none.SetWindowRgn(c, TRUE));
    EXPECT_FALSE(c.IsNull());
    EXPECT_TRUE(wnd.SetWindowRgn(c, TRUE));
    EXPECT_TRUE(c.IsNull());
}

// Deletes itself in its final-message hook, destroyed from inside one of its own
// handlers or from outside. Its memory is poisoned, not freed, so that a write to the
// object after the hook shows.
class CSelfDeleting : public CWnd {
public:
    static inline std::vector<std::string> s_events;
    static inline unsigned char* s_pFreed = nullptr;
    static inline size_t s_nFreed = 0;
    ~CSelfDeleting() override { s_events.push_back("deleted"); }
    static void operator delete(void* p, size_t size)
    {
        s_pFreed = static_cast<unsigned char*>(std::memset(p, 0xDD, size));
        s_nFreed = size;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_CLOSE) {
            DestroyWindow();
            s_events.push_back(m_hWnd ? "still attached" : "handler done");
        }
        return Default(); // after WM_CLOSE the window is gone: this must not reach a null window
    }
    void OnFinalMessage(HWND) override
    {
        s_events.push_back("final");
        delete this;
    }
};

TEST(Teardown, FinalMessageOnlyAfterTheOutermostHandlerAndNothingAfterIt)
{
    for (const bool bFromOutside : {false, true}) {
        CSelfDeleting::s_events.clear();
        auto* pWnd = new CSelfDeleting;
        ASSERT_TRUE(
            pWnd->CreateEx(0, CWnd::RegisterWndClass(0).c_str(), "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr));
        if (bFromOutside)
            ::DestroyWindow(pWnd->m_hWnd);
        else
            ::SendMessageA(pWnd->m_hWnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(CSelfDeleting::s_events,
                  (bFromOutside ? std::vector<std::string>{"final", "deleted"}
                                : std::vector<std::string>{"handler done", "final", "deleted"}));
        const unsigned char* const p = CSelfDeleting::s_pFreed;
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::count(p, p + CSelfDeleting::s_nFreed, 0xDD),
                  static_cast<long>(CSelfDeleting::s_nFreed))
            << "written to after its final message";
        ::operator delete(std::exchange(CSelfDeleting::s_pFreed, nullptr));
    }
}

} // namespace
