// Window objects. Every window object is found from its handle through one
// mechanism: the window is subclassed (SetWindowSubclass) with the object as
// reference data, whether we created the window or it already existed. Messages go
// to one virtual WindowProc; Default() hands the current message to the next
// procedure in the chain. A parent offers WM_DRAWITEM and its controls' WM_COMMAND
// notifications to the control's object first (UM_REFLECT_*).
// A window object lives on the thread that owns its window; it cannot be copied or
// moved because the window holds its address. A class with members destroys its
// window in its own destructor (DestroyWindow), so no message reaches an object whose
// members are already gone; an object may delete itself in OnFinalMessage, which runs
// once the last message has been handled and nothing touches the object afterwards.
#pragma once

#include <windows.h>

#include <string>

class CRgn;

// Reflected notifications, delivered to the control's WindowProc with the parent's
// wParam and lParam. Non-zero from the control means handled: the parent then does
// not see the message (WM_DRAWITEM answers TRUE, WM_COMMAND 0).
constexpr UINT UM_REFLECT_BASE = WM_APP + 0x2000;
constexpr UINT UM_REFLECT_COMMAND = UM_REFLECT_BASE + WM_COMMAND;
constexpr UINT UM_REFLECT_DRAWITEM = UM_REFLECT_BASE + WM_DRAWITEM;

class CWnd {
public:
    CWnd() = default;
    // Detaches and destroys a window that still exists.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object attached to a window of this thread, or null.
    static CWnd* FromHandle(HWND hWnd);

    // A window class of this module whose windows attach to the CWnd creating them;
    // registered once per set of attributes. Returns its name, empty on failure.
    static std::string RegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr,
                                        HBRUSH hbrBackground = nullptr, HICON hIcon = nullptr);

    // Creates a window and attaches this object: at the window's first message for
    // classes from RegisterWndClass, right after creation for other classes.
    BOOL CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName, DWORD dwStyle, int x,
                  int y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenuOrId, LPVOID lpParam = nullptr);
    BOOL CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName, DWORD dwStyle,
                  const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    // Attaches this object to an existing window of this thread.
    BOOL SubclassWindow(HWND hWnd);
    BOOL DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Thin forwards, for the members' convenience.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd);
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    std::string GetWindowText() const;
    BOOL Invalidate(BOOL bErase = TRUE) const { return ::InvalidateRect(m_hWnd, nullptr, bErase); }
    BOOL RedrawWindow(UINT nFlags) const { return ::RedrawWindow(m_hWnd, nullptr, nullptr, nFlags); }
    BOOL ShowWindow(int nCmdShow) const { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL EnableWindow(BOOL bEnable = TRUE) const { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) const
    {
        return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
    }
    BOOL MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) const
    {
        return ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse) const
    {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) const { return ::KillTimer(m_hWnd, nIDEvent); }
    // On success the system owns the region: rgn is left empty. A null rgn removes
    // the window's region.
    BOOL SetWindowRgn(CRgn& rgn, BOOL bRedraw);

    HWND m_hWnd = nullptr;

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The current message, passed on unchanged; 0 for a reflected notification.
    LRESULT Default();
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs once the object is attached, before it handles any message.
    virtual void PreSubclassWindow() {}
    // Runs after WM_NCDESTROY, once the outermost message of the window has returned;
    // the object is detached and may delete itself here.
    virtual void OnFinalMessage(HWND) {}
    // Attaches the object this thread is creating a window for, if any, to hWnd;
    // true when it did.
    static bool AttachCreating(HWND hWnd);
    // Makes pWnd the thread's object being created; returns the previous one.
    static CWnd* SetCreating(CWnd* pWnd);

private:
    struct CurrentMessage {
        HWND hWnd; // kept: a nested destroy clears m_hWnd, not where Default() goes
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool bChained; // false for reflected notifications: nothing to pass them to
    };

    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR uIdSubclass, DWORD_PTR dwRefData);
    static LRESULT CALLBACK StartWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool bChained);
    bool ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    BOOL Attach(HWND hWnd);
    HWND Detach();

    CurrentMessage m_current = {nullptr, 0, 0, 0, false};
    int m_nDispatchDepth = 0;
    HWND m_hWndFinal = nullptr; // set at WM_NCDESTROY until OnFinalMessage has run
};
