// Window objects: attaching, dispatch with default processing, reflection.
#include "TestWindows.h"
#include "framework/Button.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

const UINT UM_THROW = WM_USER + 7;

class CProbeWnd : public CWnd {
public:
    std::vector<UINT> m_seen;
    CWnd* m_pAtCreate = nullptr;
    int m_nPreSubclass = 0;
    CWnd m_child; // created during WM_CREATE when m_bMakeChild
    bool m_bMakeChild = false;

    bool Saw(UINT message) const { return std::find(m_seen.begin(), m_seen.end(), message) != m_seen.end(); }

protected:
    void PreSubclassWindow() override { ++m_nPreSubclass; }
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override
    {
        m_seen.push_back(message);
        if (message == WM_CREATE) {
            m_pAtCreate = FromHandle(m_hWnd);
            if (m_bMakeChild)
                m_child.CreateEx(0, RegisterWndClass(0).c_str(), "child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                 m_hWnd, reinterpret_cast<HMENU>(5));
        }
        if (message == UM_THROW)
            throw std::runtime_error("handler failed");
        if (message == BM_SETCHECK) {
            // A nested message must not change what Default() passes on afterwards.
            SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("nested"));
        }
        return Default();
    }
};

TEST(WindowObject, CreatedWindowIsAttachedFromItsFirstMessagesUntilNcDestroy)
{
    CProbeWnd parent;
    parent.m_bMakeChild = true;
    ASSERT_TRUE(parent.CreateEx(0, CWnd::RegisterWndClass(0).c_str(), "标题", WS_POPUP, 0, 0, 50, 50, nullptr,
                                nullptr));
    HWND hWnd = parent.m_hWnd;
    EXPECT_TRUE(parent.Saw(WM_NCCREATE));
    EXPECT_EQ(&parent, parent.m_pAtCreate);
    EXPECT_EQ(1, parent.m_nPreSubclass);
    EXPECT_EQ(&parent, CWnd::FromHandle(hWnd));
    // The child was created inside the parent's WM_CREATE and got its own object.
    ASSERT_NE(nullptr, parent.m_child.m_hWnd);
    EXPECT_EQ(&parent.m_child, CWnd::FromHandle(parent.m_child.m_hWnd));
    EXPECT_EQ(hWnd, ::GetParent(parent.m_child.m_hWnd));
    // Default processing of WM_NCCREATE stored the caption, bytes unchanged.
    EXPECT_EQ("标题", parent.GetWindowText());

    HWND hChild = parent.m_child.m_hWnd;
    ASSERT_TRUE(parent.DestroyWindow());
    EXPECT_EQ(nullptr, parent.m_hWnd);
    EXPECT_EQ(nullptr, parent.m_child.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandle(hWnd));
    EXPECT_EQ(nullptr, CWnd::FromHandle(hChild));
    EXPECT_TRUE(parent.Saw(WM_DESTROY));
}

TEST(WindowObject, ExistingControlIsSubclassedOnceAndKeepsItsBehaviour)
{
    CTestParent parent;
    HWND hButton = ::CreateWindowExA(0, "BUTTON", "x", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 0, 60, 20,
                                     parent.m_hWnd, reinterpret_cast<HMENU>(9), nullptr, nullptr);
    CProbeWnd probe;
    ASSERT_TRUE(probe.SubclassWindow(hButton));
    EXPECT_EQ(1, probe.m_nPreSubclass);
    CProbeWnd second;
    EXPECT_FALSE(second.SubclassWindow(hButton));
    EXPECT_EQ(&probe, CWnd::FromHandle(hButton));

    // BM_SETCHECK reaches the object, which sends itself WM_SETTEXT before Default().
    ::SendMessageA(hButton, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(probe.Saw(BM_SETCHECK));
    EXPECT_EQ(BST_CHECKED, ::SendMessageA(hButton, BM_GETCHECK, 0, 0));
    EXPECT_EQ("nested", probe.GetWindowText());
    ::SetWindowTextA(hButton, "升级");
    EXPECT_EQ("升级", probe.GetWindowText());
}

TEST(WindowObject, ExceptionInAHandlerDoesNotLeaveTheWindowProcedure)
{
    CProbeWnd wnd;
    ASSERT_TRUE(
        wnd.CreateEx(0, CWnd::RegisterWndClass(0).c_str(), "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(0, ::SendMessageA(wnd.m_hWnd, UM_THROW, 0, 0));
    ::SetWindowTextA(wnd.m_hWnd, "still works");
    EXPECT_EQ("still works", wnd.GetWindowText());
}

// A control that answers its reflected notifications as told.
class CReflectProbe : public CButton {
public:
    bool m_bConsume = false;
    std::vector<UINT> m_reflectedCodes;
    int m_nDrawItems = 0;
    void DrawItem(LPDRAWITEMSTRUCT) override { ++m_nDrawItems; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == UM_REFLECT_COMMAND) {
            m_reflectedCodes.push_back(HIWORD(wParam));
            return m_bConsume ? 1 : 0;
        }
        return CButton::WindowProc(message, wParam, lParam);
    }
};

void SendClicked(HWND hParent, HWND hControl)
{
    ::SendMessageA(hParent, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hControl), BN_CLICKED),
                   reinterpret_cast<LPARAM>(hControl));
}

TEST(Reflection, ControlSeesItsNotificationFirstAndDecidesWhetherTheParentDoes)
{
    for (bool bConsume : {false, true}) {
        SCOPED_TRACE(bConsume ? "consumed" : "passed on");
        CTestParent parent;
        CReflectProbe button;
        ASSERT_TRUE(button.Create("b", WS_CHILD | WS_VISIBLE, RECT{0, 0, 60, 20}, &parent, 305010));
        button.m_bConsume = bConsume;
        SendClicked(parent.m_hWnd, button.m_hWnd);
        EXPECT_EQ(std::vector<UINT>{BN_CLICKED}, button.m_reflectedCodes);
        EXPECT_EQ(bConsume ? 0u : 1u, parent.m_commands.size());
        if (!bConsume) {
            EXPECT_EQ(305010u & 0xFFFF, parent.m_commands[0].nID);
            EXPECT_EQ(static_cast<UINT>(BN_CLICKED), parent.m_commands[0].nCode);
        }
    }
}

TEST(Reflection, OwnerDrawnControlDrawsItselfAndOthersReachTheParent)
{
    CTestParent parent;
    CReflectProbe ours;
    ASSERT_TRUE(ours.Create("b", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, RECT{0, 0, 60, 20}, &parent, 1));
    HWND hRaw = ::CreateWindowExA(0, "BUTTON", "r", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 70, 0, 60, 20,
                                  parent.m_hWnd, reinterpret_cast<HMENU>(2), nullptr, nullptr);
    ::UpdateWindow(parent.m_hWnd);
    PumpPending();
    EXPECT_GE(ours.m_nDrawItems, 1);
    // Only the control without an object was drawn by the parent.
    EXPECT_GE(parent.m_nDrawItems, 1);
    const int nParentDraws = parent.m_nDrawItems;
    ::InvalidateRect(ours.m_hWnd, nullptr, TRUE);
    ::UpdateWindow(ours.m_hWnd);
    EXPECT_EQ(nParentDraws, parent.m_nDrawItems);

    SendClicked(parent.m_hWnd, hRaw);
    ASSERT_EQ(1u, parent.m_commands.size());
    EXPECT_EQ(hRaw, parent.m_commands[0].hControl);
}

TEST(Reflection, NotificationNamingAnotherWindowsControlIsNotReflected)
{
    CTestParent parent, other;
    CReflectProbe button;
    ASSERT_TRUE(button.Create("b", WS_CHILD | WS_VISIBLE, RECT{0, 0, 60, 20}, &other, 3));
    SendClicked(parent.m_hWnd, button.m_hWnd);
    EXPECT_TRUE(button.m_reflectedCodes.empty());
    EXPECT_EQ(1u, parent.m_commands.size());
}

} // namespace
