#include "ui/TaskbarNotifier.h"

#include "framework/Accessible.h"
#include "framework/DeviceContexts.h"
#include "framework/UserText.h"
#include "res/resource.h"
#include "ui/Scaling.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace {
// EVENT_OBJECT_LIVEREGIONCHANGED, which UI Automation (Windows 8 and later) turns into
// its live-region event; older systems and Wine let it pass unheard.
const DWORD kEventLiveRegionChanged = 0x8019;
} // namespace

CTaskbarNotifier::CTaskbarNotifier() = default;

CTaskbarNotifier::~CTaskbarNotifier()
{
    DestroyWindow(); // while the buttons, fonts and skin are whole
}

BOOL CTaskbarNotifier::Create(CWnd* pOwner)
{
    m_pOwner = pOwner;
    const std::string cls =
        RegisterWndClass(0, ::LoadCursorA(nullptr, IDC_ARROW), ::GetSysColorBrush(COLOR_WINDOW), nullptr);
    // Topmost and without a taskbar button: seen above other windows, though it is
    // shown without taking the keyboard from whatever the user is typing in. A control
    // parent: the loop gives it a dialog's keys when a keyboard user is in it.
    RECT work;
    m_nDpi = TaskbarDpi(&work);
    if (!CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT, cls.c_str(), "", WS_POPUP, 0, 0, 0,
                  0, pOwner ? pOwner->m_hWnd : nullptr, nullptr))
        return FALSE;
    Layout(m_nDpi);
    return TRUE;
}

UINT CTaskbarNotifier::TaskbarDpi(RECT* pWork)
{
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, pWork, 0);
    return MonitorDpi(::MonitorFromRect(pWork, MONITOR_DEFAULTTOPRIMARY));
}

BOOL CTaskbarNotifier::Layout(UINT nDpi)
{
    m_nDpi = nDpi;
    m_fontText.CreatePointFont(90, "Arial", nDpi);
    LOGFONTA lf = {};
    lf.lfHeight = Scaled(14);
    lf.lfWidth = Scaled(6);
    lf.lfWeight = 600;
    lf.lfCharSet = UserTextCharSet();
    lstrcpyA(lf.lfFaceName, "Arial");
    m_fontTitle.CreateFontIndirect(lf);
    const int nLeft[] = {40, 120};
    CSkinButton* const buttons[] = {&m_btnInstall, &m_btnCancel};
    for (int i = 0; i < 2; ++i) {
        buttons[i]->SetDpi(nDpi);
        buttons[i]->SetFocusInset(m_bKeyboard ? Scaled(2) : 0);
        buttons[i]->MoveWindow(Scaled(nLeft[i]), Scaled(70), Scaled(nLeft[i] + 70) - Scaled(nLeft[i]),
                               Scaled(90) - Scaled(70));
    }
    if (!m_nSkinID)
        return TRUE;
    CBitmap skin(LoadScaledBitmap(m_nSkinID, nDpi, m_crKey));
    if (skin.IsNull())
        return FALSE;
    m_bmpSkin = std::move(skin);
    const SIZE size = m_bmpSkin.GetSize();
    m_nSkinWidth = size.cx;
    m_nSkinHeight = size.cy;
    if (m_crKey != CLR_INVALID) {
        CRgn rgn(BuildSkinRegion(m_bmpSkin, GetRValue(m_crKey), GetGValue(m_crKey), GetBValue(m_crKey)));
        SetWindowRgn(rgn, TRUE); // a null region shows the whole rectangle
    }
    Repaint();
    return TRUE;
}

void CTaskbarNotifier::OnDpiChanged()
{
    // The scale the system gives is that of the monitor under the popup, which at the
    // start of a slide lies past the taskbar's edge; the taskbar's monitor decides.
    RECT work;
    const UINT nDpi = TaskbarDpi(&work);
    if (nDpi == m_nDpi)
        return;
    const int nOldWidth = m_nSkinWidth, nOldHeight = m_nSkinHeight;
    Layout(nDpi);
    if (m_nState == STATE_HIDDEN || !nOldWidth || !nOldHeight)
        return;
    // As far along the slide as before, from the edge's start for the new size.
    const POINT start = StartPoint(work, m_nEdge);
    m_nCurX = start.x + ::MulDiv(m_nCurX - m_nStartX, m_nSkinWidth, nOldWidth);
    m_nCurY = start.y + ::MulDiv(m_nCurY - m_nStartY, m_nSkinHeight, nOldHeight);
    m_nStartX = start.x;
    m_nStartY = start.y;
    Place();
    Repaint(); // the part the new size uncovered too
}

POINT CTaskbarNotifier::StartPoint(const RECT& work, int nEdge) const
{
    const int W = m_nSkinWidth, H = m_nSkinHeight;
    const POINT start[] = {{0, 0},
                           {work.right - W, work.top - H},
                           {work.left - W, work.bottom - H},
                           {work.right, work.bottom - H},
                           {work.right - W, work.bottom}};
    return start[nEdge];
}

LRESULT CTaskbarNotifier::OnCreate()
{
    if (Default() == -1)
        return -1;
    m_hHandCursor = ::LoadCursorA(nullptr, IDC_HAND);
    // Placed by the layout, at the scale of the taskbar's monitor.
    const RECT rc = {};
    m_btnInstall.Create("立即安装", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rc, this, IDC_NOTIFIER_INSTALL);
    m_btnInstall.SetDpi(m_nDpi);
    SetUserWindowText(m_btnInstall.m_hWnd, "立即安装");
    m_btnInstall.SetTextColor(m_crText);
    m_btnInstall.SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN,
                            IDB_BUTTON_SKIN, 1, 0, 0);
    m_btnInstall.EnableWindow(FALSE);
    m_btnCancel.Create("取消升级", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rc, this, IDC_NOTIFIER_CANCEL);
    m_btnCancel.SetDpi(m_nDpi);
    SetUserWindowText(m_btnCancel.m_hWnd, "取消升级");
    m_btnCancel.SetTextColor(RGB(255, 255, 255));
    m_btnCancel.SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN,
                           IDB_BUTTON_SKIN, 1, 0, 0);
    return 0;
}

void CTaskbarNotifier::SetTextColor(COLORREF crText)
{
    m_crText = crText;
    Repaint();
}

void CTaskbarNotifier::SetProgress(int nReceived, int nTotal)
{
    const int nOldTotal = m_nTotal, nOldReceived = m_nReceived;
    m_nTotal = nTotal;
    m_nReceived = nReceived <= nTotal ? nReceived : nTotal;
    // The figures must move on the screen while a download runs.
    if ((m_nTotal != nOldTotal || m_nReceived != nOldReceived) && ::IsWindowVisible(m_hWnd))
        Repaint();
    UpdateName();
}

void CTaskbarNotifier::ShowProgressBar(bool bShow)
{
    if (m_bShowProgress == bShow)
        return;
    m_bShowProgress = bShow;
    if (::IsWindowVisible(m_hWnd))
        Repaint();
    UpdateName();
}

void CTaskbarNotifier::UpdateName()
{
    std::string name = WithoutFinalLineBreak(m_strText);
    if (m_nTotal > 0 && m_bShowProgress)
        name += " " + PercentText();
    if (name == m_strName)
        return; // a percentage that stays, or the same text again
    m_strName = name;
    SetUserWindowText(m_hWnd, name.c_str());
    // Raised by us: not every system raises it for a window's text.
    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
}

void CTaskbarNotifier::Show(const char* pszText, DWORD dwShowTime, DWORD dwStayTime, DWORD dwHideTime)
{
    m_strText = pszText;
    m_dwShowTime = dwShowTime;
    m_dwStayTime = dwStayTime;
    m_dwHideTime = dwHideTime;

    // Where the taskbar lies is found afresh each time: the user may have moved it, or
    // changed its monitor's scale.
    RECT work = {};
    const UINT nDpi = TaskbarDpi(&work);
    if (m_nState == STATE_HIDDEN && nDpi != m_nDpi)
        Layout(nDpi);
    const UINT nScreenWidth = static_cast<UINT>(::GetSystemMetrics(SM_CXSCREEN));
    const UINT nScreenHeight = static_cast<UINT>(::GetSystemMetrics(SM_CYSCREEN));
    const UINT nWorkWidth = static_cast<UINT>(work.right - work.left);
    const UINT nWorkHeight = static_cast<UINT>(work.bottom - work.top);
    int nEdge = EDGE_BOTTOM;
    if (nWorkWidth < nScreenWidth && work.left == 0)
        nEdge = EDGE_RIGHT;
    else if (nWorkWidth < nScreenWidth)
        nEdge = EDGE_LEFT;
    else if (nWorkHeight < nScreenHeight && work.top != 0)
        nEdge = EDGE_TOP;
    const int W = m_nSkinWidth, H = m_nSkinHeight;

    switch (m_nState) {
    case STATE_HIDDEN: {
        const int nTicks = (nEdge == EDGE_LEFT || nEdge == EDGE_RIGHT ? W : H) / Scaled(m_nStep);
        if (nTicks <= 0)
            return; // no usable skin: nothing to slide, and no tick period to divide by
        // Not activated: the popup has no use for the keyboard the user is typing on.
        ShowWindow(SW_SHOWNOACTIVATE);
        m_nEdge = nEdge;
        m_dwShowTick = m_dwShowTime / static_cast<DWORD>(nTicks);
        m_dwHideTick = m_dwHideTime / static_cast<DWORD>(nTicks);
        const POINT start = StartPoint(work, nEdge);
        m_nStartX = m_nCurX = start.x;
        m_nStartY = m_nCurY = start.y;
        SetTimer(TIMER_APPEAR, m_dwShowTick);
        break;
    }
    case STATE_APPEARING:
        Repaint();
        break;
    case STATE_WAITING:
        Repaint();
        // The stay may have just ended, with the slide-out's first step still to come.
        KillTimer(TIMER_DISAPPEAR);
        KillTimer(TIMER_STAY);
        SetTimer(TIMER_STAY, m_dwStayTime);
        break;
    case STATE_DISAPPEARING:
        KillTimer(TIMER_DISAPPEAR);
        SetTimer(TIMER_STAY, m_dwStayTime);
        if (nEdge == EDGE_RIGHT)
            m_nCurX = work.right - W;
        else if (nEdge == EDGE_LEFT)
            m_nCurX = work.left;
        else if (nEdge == EDGE_TOP)
            m_nCurY = work.top;
        else
            m_nCurY = work.bottom - H;
        Place();
        Repaint();
        break;
    }
    UpdateName();
    // A status, new or asked for again: spoken at once, without the focus moving. The
    // progress only ever changes the name.
    ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    ::NotifyWinEvent(kEventLiveRegionChanged, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
}

void CTaskbarNotifier::ShowWithKeyboard(const char* pszText, DWORD dwShowTime, DWORD dwStayTime,
                                        DWORD dwHideTime)
{
    if (HoldsKeyboard())
        return; // Enter on the icon may come twice
    Show(pszText, dwShowTime, dwStayTime, dwHideTime);
    if (!::IsWindowVisible(m_hWnd))
        return; // no skin, nothing shown
    const HWND hForeground = ::GetForegroundWindow();
    if (hForeground != m_hWnd)
        m_hWndReturn = hForeground;
    SetKeyboardUser(true);
    ::SetForegroundWindow(m_hWnd);
    ::SetFocus(m_btnCancel.m_hWnd);
}

void CTaskbarNotifier::SetKeyboardUser(bool bKeyboard)
{
    if (m_bKeyboard == bKeyboard)
        return;
    m_bKeyboard = bKeyboard;
    // The focus rectangle, 2 pixels in, is for a keyboard user only: a click never
    // shows one. The centred captions do not move.
    for (CSkinButton* pButton : {&m_btnInstall, &m_btnCancel})
        pButton->SetFocusInset(bKeyboard ? Scaled(2) : 0);
}

bool CTaskbarNotifier::HoldsKeyboard() const
{
    const HWND hFocus = ::GetFocus();
    return m_bKeyboard && hFocus && (hFocus == m_hWnd || ::IsChild(m_hWnd, hFocus));
}

void CTaskbarNotifier::OnEscape()
{
    if (!::IsWindowVisible(m_hWnd))
        return;
    // Out from wherever it is: the slide-out's ticks move it back to the start.
    KillTimer(TIMER_APPEAR);
    KillTimer(TIMER_STAY);
    SetTimer(TIMER_DISAPPEAR, m_dwHideTick);
    SetKeyboardUser(false);
    if (::IsWindow(m_hWndReturn))
        ::SetForegroundWindow(m_hWndReturn);
    m_hWndReturn = nullptr;
}

void CTaskbarNotifier::OnEnter()
{
    // The focused button's click, as its own would come.
    const HWND hFocus = ::GetFocus();
    if (::IsChild(m_hWnd, hFocus) && ::IsWindowEnabled(hFocus))
        SendMessage(WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hFocus), BN_CLICKED),
                    reinterpret_cast<LPARAM>(hFocus));
}

void CTaskbarNotifier::Hide()
{
    const UINT_PTR timers[] = {0, TIMER_APPEAR, TIMER_STAY, TIMER_DISAPPEAR};
    if (m_nState != STATE_HIDDEN)
        KillTimer(timers[m_nState]);
    MoveWindow(0, 0, 0, 0, TRUE);
    ShowWindow(SW_HIDE);
    m_nState = STATE_HIDDEN;
    SetKeyboardUser(false);
}

void CTaskbarNotifier::Place() const
{
    SetWindowPos(nullptr, m_nCurX, m_nCurY, m_nSkinWidth, m_nSkinHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

void CTaskbarNotifier::OnTimer(UINT_PTR nIDEvent)
{
    const int W = m_nSkinWidth, H = m_nSkinHeight;
    if (nIDEvent == TIMER_APPEAR) {
        m_nState = STATE_APPEARING;
        // Tested before moving: n moves, then the tick that ends the slide.
        const bool bIn = m_nEdge == EDGE_TOP     ? m_nCurY - m_nStartY >= H
                         : m_nEdge == EDGE_LEFT  ? m_nCurX - m_nStartX >= W
                         : m_nEdge == EDGE_RIGHT ? m_nCurX <= m_nStartX - W
                                                 : m_nCurY <= m_nStartY - H;
        if (bIn) {
            KillTimer(TIMER_APPEAR);
            SetTimer(TIMER_STAY, m_dwStayTime);
            m_nState = STATE_WAITING;
        } else {
            // The last step stops at the edge: a scaled size need not be a multiple of it.
            const bool bVertical = m_nEdge == EDGE_TOP || m_nEdge == EDGE_BOTTOM;
            const bool bForward = m_nEdge == EDGE_TOP || m_nEdge == EDGE_LEFT;
            const int nEnd = bVertical ? m_nStartY + (bForward ? H : -H) : m_nStartX + (bForward ? W : -W);
            int& nCur = bVertical ? m_nCurY : m_nCurX;
            nCur = bForward ? std::min(nCur + Scaled(m_nStep), nEnd) : std::max(nCur - Scaled(m_nStep), nEnd);
        }
        Place();
    } else if (nIDEvent == TIMER_STAY) {
        if (HoldsKeyboard())
            return; // the stay goes on while a keyboard user is in the popup
        KillTimer(TIMER_STAY);
        SetTimer(TIMER_DISAPPEAR, m_dwHideTick);
    } else if (nIDEvent == TIMER_DISAPPEAR) {
        m_nState = STATE_DISAPPEARING;
        const bool bOut = m_nEdge == EDGE_TOP     ? m_nCurY <= m_nStartY
                          : m_nEdge == EDGE_LEFT  ? m_nCurX <= m_nStartX
                          : m_nEdge == EDGE_RIGHT ? m_nCurX >= m_nStartX
                                                  : m_nCurY >= m_nStartY;
        if (bOut) {
            KillTimer(TIMER_DISAPPEAR);
            Hide();
        } else {
            (m_nEdge == EDGE_TOP || m_nEdge == EDGE_BOTTOM ? m_nCurY : m_nCurX) +=
                m_nEdge == EDGE_TOP || m_nEdge == EDGE_LEFT ? -Scaled(m_nStep) : Scaled(m_nStep);
        }
        Place(); // a hidden window stays hidden, at the start position
    }
}

BOOL CTaskbarNotifier::SetSkin(UINT nBitmapID, short nRed, short nGreen, short nBlue)
{
    const UINT nOldID = m_nSkinID;
    const COLORREF crOldKey = m_crKey;
    m_nSkinID = nBitmapID;
    m_crKey = nRed == -1 || nGreen == -1 || nBlue == -1 ? CLR_INVALID : RGB(nRed, nGreen, nBlue);
    if (Layout(m_nDpi))
        return TRUE;
    m_nSkinID = nOldID; // the skin shown so far stays
    m_crKey = crOldKey;
    return FALSE;
}

std::unique_ptr<BYTE[]> CTaskbarNotifier::GetBitmapBits24(HBITMAP hBitmap, WORD* pWidth, WORD* pHeight)
{
    BITMAP bm = {};
    ::GetObjectA(hBitmap, sizeof bm, &bm);
    *pWidth = static_cast<WORD>(bm.bmWidth);
    *pHeight = static_cast<WORD>(bm.bmHeight);
    const DWORD nBytes = RowBytes24(*pWidth) * *pHeight;
    std::unique_ptr<BYTE[]> pBits(new (std::nothrow) BYTE[nBytes ? nBytes : 1]);
    if (!pBits)
        return nullptr;
    BITMAPINFOHEADER bih = {sizeof bih, *pWidth, -static_cast<LONG>(*pHeight), 1, 24, BI_RGB, nBytes, 0, 0,
                            0,          0};
    const HDC hScreen = ::GetWindowDC(nullptr);
    const int nLines = ::GetDIBits(hScreen, hBitmap, 0, *pHeight, pBits.get(),
                                   reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, hScreen);
    return nLines ? std::move(pBits) : nullptr;
}

HRGN CTaskbarNotifier::BuildSkinRegion(HBITMAP hBitmap, BYTE red, BYTE green, BYTE blue)
{
    WORD nWidth = 0, nHeight = 0;
    const std::unique_ptr<BYTE[]> pBits = GetBitmapBits24(hBitmap, &nWidth, &nHeight);
    CRgn region;
    if (!pBits || !region.CreateRectRgn(0, 0, nWidth, nHeight))
        return nullptr;
    for (int y = 0; y < nHeight; ++y) {
        const BYTE* p = pBits.get() + y * RowBytes24(nWidth);
        for (int x = 0; x < nWidth; ++x, p += 3) {
            if (p[2] == red && p[1] == green && p[0] == blue) {
                CRgn pixel(::CreateRectRgn(x, y, x + 1, y + 1));
                region.CombineRgn(region, pixel, RGN_XOR);
            }
        }
    }
    return region.Detach();
}

BOOL CTaskbarNotifier::OnEraseBkgnd(HDC hDC)
{
    CMemDC memDC(hDC);
    CSelectObject selectSkin(memDC, m_bmpSkin);
    const SIZE size = m_bmpSkin.GetSize();
    ::BitBlt(hDC, 0, 0, size.cx, size.cy, memDC, 0, 0, SRCCOPY);
    return TRUE;
}

std::string CTaskbarNotifier::TitleText() const
{
    return "Vantorel 程序升级程序(v" + m_strVersion + ")";
}

std::string CTaskbarNotifier::CountsText() const
{
    return "接收:" + NumberText(m_nReceived) + " / 总量:" + NumberText(m_nTotal);
}

std::string CTaskbarNotifier::PercentText() const
{
    // Rounded half up, in whole numbers: 2r/t percent halves, plus one, halved.
    return NumberText((200LL * m_nReceived + m_nTotal) / (2LL * m_nTotal)) + "%";
}

int CTaskbarNotifier::BarWidth(int nWidth) const
{
    return static_cast<int>(static_cast<double>(nWidth) * m_nReceived / m_nTotal + 0.5);
}

void CTaskbarNotifier::OnPaint()
{
    CPaintDC dc(m_hWnd); // puts the DC's font and colours back when done
    Draw(dc);
}

void CTaskbarNotifier::Draw(HDC dc)
{
    ::SelectObject(dc, m_fontTitle);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_crText);
    const std::string title = TitleText();
    UserTextOut(dc, Scaled(10), Scaled(8), title);
    ::SelectObject(dc, m_fontText);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    if (m_nTotal > 0 && m_bShowProgress) {
        RECT r = {rc.left + Scaled(10), Scaled(30), rc.right - Scaled(10), Scaled(45)};
        const std::string counts = CountsText(), percent = PercentText();
        DrawUserText(dc, counts, &r, DT_SINGLELINE);
        ::OffsetRect(&r, 0, Scaled(16));
        const RECT fill = {r.left, r.top, r.left + BarWidth(r.right - r.left), r.bottom};
        ::SetDCBrushColor(dc, RGB(0, 225, 50));
        ::FillRect(dc, &fill, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        ::SetDCBrushColor(dc, RGB(180, 180, 180));
        ::FrameRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        ::SetTextColor(dc, RGB(0, 0, 0));
        DrawUserText(dc, percent, &r, DT_CENTER | DT_SINGLELINE);
    } else {
        RECT r = {rc.left + Scaled(10), rc.top + Scaled(30), rc.right - Scaled(10), rc.bottom - Scaled(35)};
        DrawUserText(dc, m_strText, &r, 0);
    }
}

void CTaskbarNotifier::OnCancelUpdate()
{
    if (m_pOwner)
        m_pOwner->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_NOTIFIER_CANCEL & 0xFFFF, BN_CLICKED),
                              reinterpret_cast<LPARAM>(m_btnCancel.m_hWnd));
}

LRESULT CTaskbarNotifier::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_MOUSEMOVE: {
        // Renewed on every move, so each rest of the mouse reports a hover again.
        TRACKMOUSEEVENT tme = {sizeof tme, TME_HOVER | TME_LEAVE, m_hWnd, 1};
        ::_TrackMouseEvent(&tme);
        return Default();
    }
    case WM_MOUSEHOVER:
    case WM_MOUSELEAVE:
        if (m_bHover != (message == WM_MOUSEHOVER)) {
            m_bHover = message == WM_MOUSEHOVER;
            Repaint(); // brings the progress figures up to date
        }
        return 0;
    case WM_LBUTTONUP:
        if (m_pOwner)
            m_pOwner->PostMessage(UM_NOTIFIER_CLICKED);
        return Default();
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(m_hHandCursor);
            return TRUE;
        }
        return Default();
    case WM_TIMER:
        OnTimer(wParam);
        return Default();
    case WM_ERASEBKGND:
        return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_PRINTCLIENT: { // as PrintWindow asks
        const int nSaved = ::SaveDC(reinterpret_cast<HDC>(wParam));
        Draw(reinterpret_cast<HDC>(wParam));
        ::RestoreDC(reinterpret_cast<HDC>(wParam), nSaved);
        return 0;
    }
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == (IDC_NOTIFIER_CANCEL & 0xFFFF)) {
            OnCancelUpdate();
            return 0;
        }
        // Esc and Enter, as the loop's dialog keys send them.
        if (LOWORD(wParam) == IDCANCEL)
            OnEscape();
        else if (LOWORD(wParam) == IDOK)
            OnEnter();
        return Default();
    case WM_DPICHANGED:
        OnDpiChanged();
        return 0;
    case WM_GETOBJECT: {
        // Once a reader asks, UI Automation's clients hear the status as a live region.
        if (!m_bLiveRegion) {
            m_bLiveRegion = true;
            MakeLiveRegion(m_hWnd);
        }
        LRESULT result = 0;
        return AnswerGetObject(m_hWnd, wParam, lParam, ROLE_SYSTEM_ALERT, &result) ? result : Default();
    }
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}
