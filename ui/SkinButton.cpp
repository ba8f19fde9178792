#include "ui/SkinButton.h"

#include "framework/Accessible.h"
#include "framework/DeviceContexts.h"
#include "framework/UserText.h"
#include "ui/RegionRects.h"
#include "ui/Scaling.h"

#include <commctrl.h>
#include <oleacc.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

namespace {
const int kKindPush = 0;
const int kKindCheckBox = 2;
const int kKindRadio = 4;
} // namespace

CSkinButton::CSkinButton() : m_crText(::GetSysColor(COLOR_BTNTEXT)), m_nDpi(MonitorDpi(nullptr))
{
    m_font.CreatePointFont(90, "Arial", m_nDpi);
}

CSkinButton::~CSkinButton()
{
    DestroyWindow(); // while the members are whole
}

void CSkinButton::PreSubclassWindow()
{
    const UINT s = GetStyle() & 0xFF;
    m_nKind = (s & 3) == 3 ? kKindCheckBox : (s & 9) == 9 ? kKindRadio : kKindPush;
    CButton::PreSubclassWindow();
    // OR-ing BS_OWNERDRAW into types 4 to 7 would give 0xF, which is not owner-drawn.
    ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);
}

void CSkinButton::SetBitmaps(UINT nNormal, UINT nPressed, UINT nHover, UINT nDisabled, UINT nFocus,
                             short nDrawMode, short nBorder, short nFocusInset)
{
    // A handle of its own for the disabled look even when it shows the normal picture.
    const UINT ids[] = {nNormal, nPressed, nHover, nDisabled ? nDisabled : nNormal, nFocus};
    std::copy(ids, ids + 5, m_nImages);
    m_nDrawMode = nDrawMode >= 2 ? 2 : nDrawMode < 0 ? 0 : nDrawMode;
    m_bBorder = nBorder;
    m_nFocusInset = nFocusInset < 0 ? 0 : nFocusInset;
    LoadImages();
}

void CSkinButton::SetDpi(UINT nDpi)
{
    if (nDpi == m_nDpi)
        return;
    m_nDpi = nDpi;
    m_font.CreatePointFont(90, "Arial", nDpi);
    LoadImages();
}

void CSkinButton::LoadImages()
{
    // White is what mode 0 cuts away: scaling must neither blur it nor blend it in.
    const COLORREF crKey = m_nDrawMode == 0 ? RGB(255, 255, 255) : CLR_INVALID;
    CBitmap* const slots[] = {&m_bmpNormal, &m_bmpPressed, &m_bmpHover, &m_bmpDisabled, &m_bmpFocus};
    for (int i = 0; i < 5; ++i)
        slots[i]->Attach(m_nImages[i] ? LoadScaledBitmap(m_nImages[i], m_nDpi, crKey) : nullptr);

    if (m_nDrawMode == 0 && m_hWnd) {
        CRgn rgn;
        if (!m_bmpNormal.IsNull()) {
            const SIZE size = m_bmpNormal.GetSize();
            SetWindowPos(nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
            rgn.Attach(CreateRegionFromBitmap(m_bmpNormal, crKey));
        }
        SetWindowRgn(rgn, TRUE);
    }
}

COLORREF CSkinButton::SetTextColor(COLORREF crText)
{
    const COLORREF crOld = m_crText;
    m_crText = crText;
    return crOld;
}

void CSkinButton::SetFocusInset(short nFocusInset)
{
    m_nFocusInset = nFocusInset < 0 ? 0 : nFocusInset;
    if (m_hWnd)
        Invalidate();
}

void CSkinButton::SetRadioGroup(UINT nFirst, UINT nLast)
{
    m_nGroupFirst = nFirst;
    m_nGroupLast = nLast;
}

BOOL CSkinButton::SetTooltipText(const char* pszText)
{
    if (!m_hWnd || (!m_tooltip.m_hWnd && !m_tooltip.Create(this)))
        return FALSE;
    return m_tooltip.AddTool(this, pszText);
}

LRESULT CSkinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return TRUE; // DrawItem covers the whole face
    case WM_LBUTTONDBLCLK:
        // A second press, not a double-click notification.
        SendMessage(WM_LBUTTONDOWN, wParam, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        return OnLButtonDown(wParam, lParam);
    case WM_MOUSEMOVE:
        return OnMouseMove(wParam, lParam);
    case WM_MOUSELEAVE:
        m_bHover = false;
        Invalidate();
        return 0;
    case WM_LBUTTONUP:
        return OnLButtonUp(wParam, lParam);
    case WM_KILLFOCUS:
        return OnKillFocus();
    case WM_KEYDOWN:
        return OnKeyDown(wParam);
    case BM_SETCHECK:
        OnSetCheck(wParam);
        return 0;
    case BM_GETCHECK:
        return m_bChecked ? BST_CHECKED : BST_UNCHECKED;
    case UM_UNCHECK:
        OnUncheck();
        return 0;
    case UM_REFLECT_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            OnClicked();
        return 0; // the parent still gets the notification
    case WM_DESTROY:
        m_tooltip.DestroyWindow();
        return Default();
    case WM_GETOBJECT: {
        // Its own role: the system's proxy knows nothing of an owner-drawn kind.
        const LONG nRole = m_nKind == kKindCheckBox ? ROLE_SYSTEM_CHECKBUTTON
                           : m_nKind == kKindRadio  ? ROLE_SYSTEM_RADIOBUTTON
                                                    : ROLE_SYSTEM_PUSHBUTTON;
        LRESULT result = 0;
        return AnswerGetObject(m_hWnd, wParam, lParam, nRole, &result) ? result : Default();
    }
    default:
        return CButton::WindowProc(message, wParam, lParam);
    }
}

LRESULT CSkinButton::OnLButtonDown(WPARAM wParam, LPARAM lParam)
{
    Relay(WM_LBUTTONDOWN, wParam, lParam);
    if (m_bHover) {
        TRACKMOUSEEVENT tme = {sizeof tme, TME_CANCEL | TME_LEAVE, m_hWnd, 0};
        if (::_TrackMouseEvent(&tme))
            m_bHover = false;
    }
    const LRESULT result = Default(); // capture, focus, pushed state
    m_bMouseDown = true;
    return result;
}

LRESULT CSkinButton::OnMouseMove(WPARAM wParam, LPARAM lParam)
{
    Relay(WM_MOUSEMOVE, wParam, lParam);
    if (m_bMouseDown && ::GetCapture() == m_hWnd) {
        const bool bInside = IsButtonAtClientPoint(lParam);
        if (bInside != ((GetState() & BST_PUSHED) != 0)) {
            SetState(bInside);
            Invalidate();
        }
    } else if (!m_bHover) {
        TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, m_hWnd, 0};
        if (::_TrackMouseEvent(&tme)) {
            m_bHover = true;
            Invalidate();
        }
    }
    return Default();
}

LRESULT CSkinButton::OnLButtonUp(WPARAM wParam, LPARAM lParam)
{
    // Before the default processing, so the parent's BN_CLICKED sees the new state.
    if (m_nKind != kKindPush && IsButtonAtClientPoint(lParam))
        SendMessage(BM_SETCHECK, m_nKind == kKindCheckBox ? !m_bChecked : 1);
    Relay(WM_LBUTTONUP, wParam, lParam);
    m_bMouseDown = false;
    return Default();
}

LRESULT CSkinButton::OnKillFocus()
{
    if (::GetCapture() == m_hWnd) {
        ::ReleaseCapture();
        m_bMouseDown = false;
    }
    return Default();
}

LRESULT CSkinButton::OnKeyDown(WPARAM wParam)
{
    if (m_nKind != kKindPush && wParam == VK_SPACE)
        SendMessage(BM_SETCHECK, m_nKind == kKindCheckBox ? !m_bChecked : 1);
    return Default();
}

void CSkinButton::OnClicked()
{
    if (::GetCapture() == m_hWnd)
        ::ReleaseCapture();
    m_bMouseDown = false;
}

void CSkinButton::OnSetCheck(WPARAM wParam)
{
    m_bChecked = wParam != 0 && m_nKind != kKindPush;
    if (m_nKind == kKindRadio && m_bChecked)
        UncheckGroup();
    Invalidate();
}

void CSkinButton::OnUncheck()
{
    if (m_bChecked) {
        m_bChecked = false;
        Invalidate();
    }
}

void CSkinButton::UncheckGroup() const
{
    HWND hParent = GetParent();
    if (!m_nGroupFirst || !m_nGroupLast || !hParent || m_nGroupFirst > m_nGroupLast)
        return;
    const UINT nSelf = static_cast<UINT>(GetDlgCtrlID());
    // Ends at m_nGroupLast itself: a bound of UINT_MAX must not wrap into a loop without end.
    for (UINT nID = m_nGroupFirst;; ++nID) {
        if (nID != nSelf) {
            if (HWND hOther = ::GetDlgItem(hParent, static_cast<int>(nID)))
                ::PostMessageA(hOther, UM_UNCHECK, 0, 0);
        }
        if (nID == m_nGroupLast)
            break;
    }
}

void CSkinButton::Relay(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_tooltip.m_hWnd)
        return;
    // Signed: while the button holds the capture the pointer may be left of or above it.
    MSG msg = {m_hWnd, message, wParam, lParam, 0, {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}};
    m_tooltip.RelayEvent(&msg);
}

bool CSkinButton::IsButtonAt(POINT ptScreen) const
{
    // The window under the point, not the rectangle: in mode 0 the button has a shape.
    return ::WindowFromPoint(ptScreen) == m_hWnd;
}

bool CSkinButton::IsButtonAtClientPoint(LPARAM lParam) const
{
    POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ClientToScreen(m_hWnd, &pt);
    return IsButtonAt(pt);
}

void CSkinButton::DrawFace(HDC hDC, const CBitmap& bmp, const RECT& rc) const
{
    if (bmp.IsNull())
        ::FillRect(hDC, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
    else
        DrawBitmap(hDC, bmp, rc, m_nDrawMode);
}

void CSkinButton::DrawItem(LPDRAWITEMSTRUCT pDrawItem)
{
    // While the left button is held, the pushed look follows the window under the
    // cursor; changing the state draws the button again.
    POINT ptCursor;
    if (m_bMouseDown && ::GetCapture() == m_hWnd && ::GetCursorPos(&ptCursor)) {
        const bool bInside = IsButtonAt(ptCursor);
        const bool bPushed = (GetState() & BST_PUSHED) != 0;
        if (bInside != bPushed) {
            SetState(bInside);
            return;
        }
    }

    HDC hDC = pDrawItem->hDC;
    const UINT nState = pDrawItem->itemState;
    RECT r = pDrawItem->rcItem;
    RECT t = r;
    const int nMargin = m_nFocusInset + ScalePixels(2, m_nDpi);
    t.left += nMargin;
    t.right -= nMargin;

    ::SetBkMode(hDC, TRANSPARENT);
    CSelectObject selectFont(hDC, m_font);

    UINT nEdge = EDGE_RAISED;
    COLORREF crCaption = m_crText;
    const bool bDisabled = (nState & ODS_DISABLED) != 0;
    if (bDisabled) {
        DrawFace(hDC, m_bmpDisabled, r);
        crCaption = ::GetSysColor(COLOR_GRAYTEXT);
    } else if ((nState & ODS_SELECTED) || m_bChecked) {
        DrawFace(hDC, m_bmpPressed, r);
        nEdge = EDGE_SUNKEN;
        ::OffsetRect(&t, ScalePixels(1, m_nDpi), ScalePixels(1, m_nDpi));
    } else if (m_bmpNormal.IsNull()) {
        DrawFace(hDC, m_bmpNormal, r);
    } else if (m_bHover && !m_bmpHover.IsNull()) {
        DrawFace(hDC, m_bmpHover, r);
    } else if ((nState & ODS_FOCUS) && !m_bmpFocus.IsNull()) {
        DrawFace(hDC, m_bmpFocus, r);
    } else {
        DrawFace(hDC, m_bmpNormal, r);
    }
    if (m_bBorder)
        ::DrawEdge(hDC, &r, nEdge, BF_RECT);
    if (!bDisabled && (nState & ODS_FOCUS) && m_nFocusInset > 0) {
        ::InflateRect(&r, -m_nFocusInset, -m_nFocusInset);
        ::DrawFocusRect(hDC, &r);
    }
    ::SetTextColor(hDC, crCaption);
    DrawWindowText(hDC, m_hWnd, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void CSkinButton::DrawBitmap(HDC hDC, HBITMAP hBitmap, RECT rc, short nDrawMode) const
{
    if (!hBitmap)
        return;
    if (nDrawMode == 2) {
        TileBitmap(hDC, hBitmap, rc);
        return;
    }
    CRgn clip;
    if (nDrawMode == 0) {
        // Without a window region the clip stays empty and nothing is drawn.
        clip.CreateRectRgn(0, 0, 0, 0);
        ::GetWindowRgn(m_hWnd, clip);
        ::SelectClipRgn(hDC, clip);
    }
    {
        CMemDC memDC(hDC);
        CSelectObject selectBitmap(memDC, hBitmap);
        const int nWidth = rc.right - rc.left;
        const int nHeight = rc.bottom - rc.top;
        if (nDrawMode == 0) {
            ::BitBlt(hDC, rc.left, rc.top, nWidth, nHeight, memDC, 0, 0, SRCCOPY);
        } else {
            BITMAP bm = {};
            ::GetObjectA(hBitmap, sizeof bm, &bm);
            ::StretchBlt(hDC, rc.left, rc.top, nWidth, nHeight, memDC, 0, 0, bm.bmWidth, bm.bmHeight,
                         SRCCOPY);
        }
    }
    if (nDrawMode == 0)
        ::SelectClipRgn(hDC, nullptr);
}

void CSkinButton::TileBitmap(HDC hDC, HBITMAP hBitmap, RECT rc) const
{
    BITMAP bm = {};
    if (!hBitmap || ::GetObjectA(hBitmap, sizeof bm, &bm) != sizeof bm || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return;
    CMemDC memDC(hDC);
    CSelectObject selectBitmap(memDC, hBitmap);
    for (int y = rc.top; y < rc.bottom;) {
        const int nRowHeight = std::min<int>(bm.bmHeight, rc.bottom - y);
        for (int x = rc.left; x < rc.right;) {
            const int nTileWidth = std::min<int>(bm.bmWidth, rc.right - x);
            ::BitBlt(hDC, x, y, nTileWidth, nRowHeight, memDC, 0, 0, SRCCOPY);
            x += nTileWidth;
        }
        y += nRowHeight;
    }
}

HRGN CSkinButton::CreateRegionFromBitmap(HBITMAP hBitmap, COLORREF crKey) const
{
    BITMAP bm = {};
    if (!hBitmap || ::GetObjectA(hBitmap, sizeof bm, &bm) != sizeof bm)
        return nullptr;
    const int nWidth = bm.bmWidth;
    const int nHeight = bm.bmHeight;

    CRegionRects rects;
    {
        CWindowDC windowDC(m_hWnd);
        CMemDC memDC(windowDC);
        CSelectObject selectBitmap(memDC, hBitmap);
        for (int y = nHeight - 1; y >= 0; --y) {
            int nStart = -1; // no open run
            for (int x = 0; x <= nWidth; ++x) {
                const bool bOpaque = x < nWidth && ::GetPixel(memDC, x, y) != crKey;
                if (bOpaque && nStart < 0) {
                    nStart = x;
                } else if (!bOpaque && nStart >= 0) {
                    if (!rects.Append(RECT{nStart, y, x, y + 1}))
                        return nullptr;
                    nStart = -1;
                }
            }
        }
    }

    CRgn result;
    if (!result.CreateRectRgn(0, 0, 0, 0))
        return nullptr;
    const RECT* pRects = rects.GetRects();
    for (DWORD i = 0; i < rects.GetCount(); ++i) {
        CRgn part;
        part.CreateRectRgn(pRects[i].left, pRects[i].top, pRects[i].right, pRects[i].bottom);
        result.CombineRgn(result, part, RGN_OR);
    }
    return result.Detach();
}
