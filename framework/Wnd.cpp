#include "framework/Wnd.h"

#include "framework/GdiObjects.h"
#include "framework/UserText.h"

#include <commctrl.h>

namespace {
// One subclass id for all window objects; the reference data is the object.
const UINT_PTR kSubclassId = 0x46574E44;

// The object whose window CreateEx is creating, for a class of ours; taken by the
// window's first message, so no creation parameter is needed.
thread_local CWnd* t_pWndInit = nullptr;

// The comctl32 that runs our subclasses. Versions 5 and 6 may both be loaded, so it is
// found from the window procedure the first subclass installed, not by name.
HMODULE g_hSubclassModule = nullptr;

// MinGW's import library lacks GetWindowSubclass: take it from that same comctl32.
BOOL GetSubclassRefData(HWND hWnd, SUBCLASSPROC pfnSubclass, UINT_PTR uId, DWORD_PTR* pRefData)
{
    using GetWindowSubclassFn = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
    static GetWindowSubclassFn pfnGet = nullptr;
    if (!pfnGet && g_hSubclassModule)
        pfnGet = reinterpret_cast<GetWindowSubclassFn>(
            reinterpret_cast<void*>(::GetProcAddress(g_hSubclassModule, "GetWindowSubclass")));
    return pfnGet && pfnGet(hWnd, pfnSubclass, uId, pRefData);
}
} // namespace

CWnd::~CWnd()
{
    if (m_hWnd) {
        // The derived parts are gone already: no message may reach this object again.
        HWND hWnd = Detach();
        ::DestroyWindow(hWnd);
    }
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    DWORD_PTR ref = 0;
    if (!hWnd || !GetSubclassRefData(hWnd, SubclassProc, kSubclassId, &ref))
        return nullptr;
    return reinterpret_cast<CWnd*>(ref);
}

std::string CWnd::RegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    const std::string name = "FwWnd:" + HexText(nClassStyle) + ":"
                             + HexText(reinterpret_cast<ULONG_PTR>(hCursor)) + ":"
                             + HexText(reinterpret_cast<ULONG_PTR>(hbrBackground)) + ":"
                             + HexText(reinterpret_cast<ULONG_PTR>(hIcon));
    HINSTANCE hInstance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    if (::GetClassInfoA(hInstance, name.c_str(), &wc))
        return name;
    wc = WNDCLASSA{};
    wc.style = nClassStyle;
    wc.lpfnWndProc = StartWndProc;
    wc.hInstance = hInstance;
    wc.hCursor = hCursor;
    wc.hbrBackground = hbrBackground;
    wc.hIcon = hIcon;
    wc.lpszClassName = name.c_str();
    return ::RegisterClassA(&wc) ? name : std::string();
}

BOOL CWnd::CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenuOrId, LPVOID lpParam)
{
    if (m_hWnd)
        return FALSE;
    HINSTANCE hInstance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    const bool bOurClass = ::GetClassInfoA(hInstance, pszClassName, &wc) && wc.lpfnWndProc == StartWndProc;

    CWnd* const pPrevious = bOurClass ? SetCreating(this) : t_pWndInit;
    HWND hWnd = ::CreateWindowExA(dwExStyle, pszClassName, pszWindowName, dwStyle, x, y, nWidth, nHeight,
                                  hWndParent, hMenuOrId, hInstance, lpParam);
    SetCreating(pPrevious);
    if (!hWnd)
        return FALSE;
    // A system class never saw our procedure: attach now.
    if (!m_hWnd && !bOurClass && !Attach(hWnd)) {
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    return m_hWnd == hWnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam)
{
    return CreateEx(dwExStyle, pszClassName, pszWindowName, dwStyle, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, pParentWnd ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (m_hWnd || !::IsWindow(hWnd) || FromHandle(hWnd)
        || ::GetWindowThreadProcessId(hWnd, nullptr) != ::GetCurrentThreadId())
        return FALSE;
    return Attach(hWnd);
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd)
{
    const DWORD dwOld = GetStyle();
    const DWORD dwNew = (dwOld & ~dwRemove) | dwAdd;
    if (dwNew == dwOld)
        return FALSE;
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(dwNew));
    return TRUE;
}

std::string CWnd::GetWindowText() const
{
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(m_hWnd)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(m_hWnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

BOOL CWnd::SetWindowRgn(CRgn& rgn, BOOL bRedraw)
{
    if (!::SetWindowRgn(m_hWnd, rgn, bRedraw))
        return FALSE;
    rgn.Detach();
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT, WPARAM, LPARAM)
{
    return Default();
}

LRESULT CWnd::Default()
{
    if (!m_current.bChained)
        return 0;
    return ::DefSubclassProc(m_current.hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::DefSubclassProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
    if (!::SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        m_hWnd = nullptr;
        return FALSE;
    }
    // One of the two calls gives the procedure itself, the other a handle standing for
    // it (which one depends on the system); only the procedure lies in a module.
    for (const LONG_PTR proc :
         {::GetWindowLongPtrW(hWnd, GWLP_WNDPROC), ::GetWindowLongPtrA(hWnd, GWLP_WNDPROC)}) {
        if (!g_hSubclassModule)
            ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
                                     | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(proc), &g_hSubclassModule);
    }
    PreSubclassWindow();
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    ::RemoveWindowSubclass(hWnd, SubclassProc, kSubclassId);
    m_hWnd = nullptr;
    return hWnd;
}

CWnd* CWnd::SetCreating(CWnd* pWnd)
{
    CWnd* const pPrevious = t_pWndInit;
    t_pWndInit = pWnd;
    return pPrevious;
}

bool CWnd::AttachCreating(HWND hWnd)
{
    CWnd* pWnd = t_pWndInit;
    if (!pWnd || pWnd->m_hWnd || FromHandle(hWnd))
        return false;
    t_pWndInit = nullptr;
    return pWnd->Attach(hWnd) != FALSE;
}

LRESULT CALLBACK CWnd::StartWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (AttachCreating(hWnd)) {
        // The subclass now sits in front of this procedure: send the message through it.
        auto chain = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hWnd, GWLP_WNDPROC));
        return ::CallWindowProcA(chain, hWnd, message, wParam, lParam);
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR dwRefData)
{
    CWnd* pWnd = reinterpret_cast<CWnd*>(dwRefData);
    if (message != WM_NCDESTROY)
        return pWnd->Dispatch(message, wParam, lParam, true);
    // The last message: the window's own procedure still needs it, the object not.
    pWnd->Detach();
    pWnd->m_hWndFinal = hWnd;
    const LRESULT result = ::DefSubclassProc(hWnd, message, wParam, lParam);
    if (pWnd->m_nDispatchDepth == 0) {
        pWnd->m_hWndFinal = nullptr;
        pWnd->OnFinalMessage(hWnd); // may delete the object
    }
    return result;
}

LRESULT CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool bChained)
{
    const CurrentMessage previous = m_current; // handlers may send messages to themselves
    m_current = CurrentMessage{m_hWnd, message, wParam, lParam, bChained};
    ++m_nDispatchDepth;
    LRESULT result = 0;
    try {
        if (!(bChained && ReflectToControl(message, wParam, lParam, &result)))
            result = WindowProc(message, wParam, lParam);
    } catch (...) {
        // Unwinding through the system's frames is undefined: the message fails instead.
        result = 0;
    }
    m_current = previous;
    if (--m_nDispatchDepth == 0 && m_hWndFinal) {
        const HWND hWnd = m_hWndFinal;
        m_hWndFinal = nullptr;
        OnFinalMessage(hWnd); // may delete the object: nothing touches it afterwards
    }
    return result;
}

bool CWnd::ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    HWND hControl = nullptr;
    if (message == WM_COMMAND)
        hControl = reinterpret_cast<HWND>(lParam);
    else if (message == WM_DRAWITEM && lParam) {
        auto* pDis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (pDis->CtlType != ODT_MENU)
            hControl = pDis->hwndItem;
    }
    // Only our own children: lParam of WM_COMMAND is whatever the sender put there.
    if (!hControl || ::GetParent(hControl) != m_hWnd)
        return false;
    CWnd* pControl = FromHandle(hControl);
    if (!pControl || !pControl->Dispatch(UM_REFLECT_BASE + message, wParam, lParam, false))
        return false;
    *pResult = message == WM_DRAWITEM ? TRUE : 0;
    return true;
}
