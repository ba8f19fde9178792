#include "framework/Accessible.h"

#include "framework/SystemLibrary.h"

#include <ole2.h>
#include <oleacc.h>

#include <new>
#include <vector>

namespace {
// MinGW's static IID_IAccessible is not this GUID.
const IID kIIDAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const IID kIIDDispatch = {0x00020400, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIIDUnknown = {0, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const CLSID kCLSIDAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kIIDAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
const LONG kLivePolite = 1;

struct COle {
    decltype(&CoInitializeEx) pInitialize;
    decltype(&CoCreateInstance) pCreateInstance;
    decltype(&SysAllocStringLen) pAllocString;
    decltype(&LresultFromObject) pLresultFromObject;
    decltype(&AccessibleObjectFromWindow) pObjectFromWindow;
};

// The functions, loaded at the first question, and this thread in an apartment (a
// single-threaded one, so that readers' calls arrive through its message loop). Null
// members when a library is missing.
const COle& Ole()
{
    static const COle ole = [] {
        const HMODULE ole32 = LoadSystemLibrary("ole32.dll"), oleaut32 = LoadSystemLibrary("oleaut32.dll"),
                      oleacc = LoadSystemLibrary("oleacc.dll");
        return COle{
            SystemFunction<decltype(&CoInitializeEx)>(ole32, "CoInitializeEx"),
            SystemFunction<decltype(&CoCreateInstance)>(ole32, "CoCreateInstance"),
            SystemFunction<decltype(&SysAllocStringLen)>(oleaut32, "SysAllocStringLen"),
            SystemFunction<decltype(&LresultFromObject)>(oleacc, "LresultFromObject"),
            SystemFunction<decltype(&AccessibleObjectFromWindow)>(oleacc, "AccessibleObjectFromWindow")};
    }();
    static thread_local const bool bApartment =
        ole.pInitialize && SUCCEEDED(ole.pInitialize(nullptr, COINIT_APARTMENTTHREADED));
    (void)bApartment;
    return ole;
}

bool IsSelf(const VARIANT& v)
{
    return v.vt == VT_I4 && v.lVal == CHILDID_SELF;
}

std::vector<HWND> ChildWindows(HWND hWnd)
{
    std::vector<HWND> children;
    for (HWND h = ::GetWindow(hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        children.push_back(h);
    return children;
}

// Another window's object as a reader would get it, ours or the system's.
HRESULT WindowObject(HWND hWnd, LONG idObject, IDispatch** ppDispatch)
{
    *ppDispatch = nullptr;
    const COle& ole = Ole();
    return ole.pObjectFromWindow ? ole.pObjectFromWindow(hWnd, static_cast<DWORD>(idObject), kIIDDispatch,
                                                         reinterpret_cast<void**>(ppDispatch))
                                 : E_FAIL;
}

class CAccessible final : public IAccessible {
public:
    CAccessible(HWND hWnd, LONG nRole) : m_hWnd(hWnd), m_nRole(nRole) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, kIIDAccessible) || IsEqualIID(riid, kIIDDispatch)
                       || IsEqualIID(riid, kIIDUnknown)
                   ? this
                   : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG n = ::InterlockedDecrement(&m_nRefs);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pn) override
    {
        *pn = 0;
        return Answer(S_OK);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return Answer(E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        return Answer(E_NOTIMPL);
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** ppParent) override
    {
        *ppParent = nullptr;
        if (Gone())
            return RPC_E_DISCONNECTED;
        return WindowObject(::GetAncestor(m_hWnd, GA_PARENT), OBJID_CLIENT, ppParent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* pn) override
    {
        *pn = static_cast<LONG>(ChildWindows(m_hWnd).size());
        return Answer(S_OK);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** ppChild) override
    {
        *ppChild = nullptr;
        if (Gone())
            return RPC_E_DISCONNECTED;
        const std::vector<HWND> children = ChildWindows(m_hWnd);
        if (child.vt != VT_I4 || child.lVal < 1 || child.lVal > static_cast<LONG>(children.size()))
            return E_INVALIDARG;
        return WindowObject(children[child.lVal - 1], OBJID_WINDOW, ppChild);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* pName) override
    {
        *pName = nullptr;
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (!IsSelf(child))
            return E_INVALIDARG;
        std::vector<wchar_t> text(static_cast<size_t>(::GetWindowTextLengthW(m_hWnd)) + 1);
        const int n = ::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.size()));
        const COle& ole = Ole();
        *pName = ole.pAllocString ? ole.pAllocString(text.data(), static_cast<UINT>(n)) : nullptr;
        return *pName ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* pRole) override
    {
        return Number(child, m_nRole, pRole);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* pState) override
    {
        LONG state = ::IsWindowVisible(m_hWnd) ? 0 : STATE_SYSTEM_INVISIBLE;
        if (!::IsWindowEnabled(m_hWnd))
            state |= STATE_SYSTEM_UNAVAILABLE;
        else if (::GetWindowLongA(m_hWnd, GWL_STYLE) & WS_TABSTOP)
            state |= STATE_SYSTEM_FOCUSABLE;
        if (::GetFocus() == m_hWnd)
            state |= STATE_SYSTEM_FOCUSED;
        if ((m_nRole == ROLE_SYSTEM_CHECKBUTTON || m_nRole == ROLE_SYSTEM_RADIOBUTTON)
            && ::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED)
            state |= STATE_SYSTEM_CHECKED;
        return Number(child, state, pState);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* pFocus) override
    {
        const HWND hFocus = ::GetFocus();
        pFocus->vt = VT_EMPTY;
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (hFocus == m_hWnd)
            return Number(VARIANT{}, CHILDID_SELF, pFocus);
        if (!hFocus || !::IsChild(m_hWnd, hFocus))
            return S_FALSE;
        pFocus->vt = VT_DISPATCH;
        return WindowObject(hFocus, OBJID_WINDOW, &pFocus->pdispVal);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight,
                                          VARIANT child) override
    {
        RECT rc = {};
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (!IsSelf(child) || !::GetWindowRect(m_hWnd, &rc))
            return E_INVALIDARG;
        *pLeft = rc.left;
        *pTop = rc.top;
        *pWidth = rc.right - rc.left;
        *pHeight = rc.bottom - rc.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* pAt) override
    {
        POINT pt = {x, y};
        RECT rc = {};
        pAt->vt = VT_EMPTY;
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (!::GetWindowRect(m_hWnd, &rc) || !::PtInRect(&rc, pt) || !::ScreenToClient(m_hWnd, &pt))
            return S_FALSE;
        const HWND hAt = ::ChildWindowFromPointEx(m_hWnd, pt, CWP_SKIPINVISIBLE);
        if (!hAt || hAt == m_hWnd)
            return Number(VARIANT{}, CHILDID_SELF, pAt);
        pAt->vt = VT_DISPATCH;
        return WindowObject(hAt, OBJID_WINDOW, &pAt->pdispVal);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (!IsSelf(child))
            return E_INVALIDARG;
        if (m_nRole != ROLE_SYSTEM_PUSHBUTTON && m_nRole != ROLE_SYSTEM_CHECKBUTTON
            && m_nRole != ROLE_SYSTEM_RADIOBUTTON)
            return Answer(DISP_E_MEMBERNOTFOUND);
        ::PostMessageA(m_hWnd, BM_CLICK, 0, 0); // after the reader's call has returned
        return S_OK;
    }

    // What this object does not have.
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT, BSTR* p) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* p) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* p) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* p) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT, BSTR* p) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* p, VARIANT, LONG*) override { return None(p); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* p) override
    {
        p->vt = VT_EMPTY;
        return Answer(DISP_E_MEMBERNOTFOUND);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override { return Answer(DISP_E_MEMBERNOTFOUND); }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG, VARIANT, VARIANT* p) override
    {
        p->vt = VT_EMPTY;
        return Answer(DISP_E_MEMBERNOTFOUND);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return Answer(DISP_E_MEMBERNOTFOUND); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return Answer(DISP_E_MEMBERNOTFOUND); }

private:
    // A reader may keep the object past its window, whose handle may by then name
    // another window: from then on it answers nothing.
    bool Gone() const { return !::IsWindow(m_hWnd); }
    HRESULT Answer(HRESULT hr) const { return Gone() ? RPC_E_DISCONNECTED : hr; }
    HRESULT Number(const VARIANT& child, LONG n, VARIANT* pOut) const
    {
        pOut->vt = VT_EMPTY;
        if (Gone())
            return RPC_E_DISCONNECTED;
        if (child.vt != VT_EMPTY && !IsSelf(child))
            return E_INVALIDARG;
        pOut->vt = VT_I4;
        pOut->lVal = n;
        return S_OK;
    }
    HRESULT None(BSTR* p) const
    {
        *p = nullptr;
        return Answer(DISP_E_MEMBERNOTFOUND);
    }

    LONG m_nRefs = 1;
    const HWND m_hWnd;
    const LONG m_nRole;
};
} // namespace

bool AnswerGetObject(HWND hWnd, WPARAM wParam, LPARAM lParam, LONG nRole, LRESULT* pResult)
{
    const LONG idObject = static_cast<LONG>(lParam);
    if (idObject != OBJID_CLIENT && idObject != OBJID_WINDOW)
        return false;
    const COle& ole = Ole();
    CAccessible* pObject = ole.pLresultFromObject ? new (std::nothrow) CAccessible(hWnd, nRole) : nullptr;
    if (!pObject)
        return false;
    // The reader gets its own reference, or a failure code it understands.
    *pResult = ole.pLresultFromObject(kIIDAccessible, wParam, pObject);
    pObject->Release();
    return true;
}

void MakeLiveRegion(HWND hWnd)
{
    const COle& ole = Ole();
    IAccPropServices* pServices = nullptr;
    if (!ole.pCreateInstance
        || FAILED(ole.pCreateInstance(kCLSIDAccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                      kIIDAccPropServices, reinterpret_cast<void**>(&pServices))))
        return;
    VARIANT polite = {};
    polite.vt = VT_I4;
    polite.lVal = kLivePolite;
    pServices->SetHwndProp(hWnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kLiveSettingProperty,
                           polite);
    pServices->Release();
}
