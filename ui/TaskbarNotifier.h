// The sliding popup near the taskbar: it slides in from the taskbar's edge, stays and
// slides out, showing its skin, a title and the status text or the download progress,
// with a cancel and an install button. Screen readers read what it shows as its name
// and hear each status as an alert. Owns its skin, fonts and buttons; lives on the
// user-interface thread, where its owner drives it.
#pragma once

#include "framework/GdiObjects.h"
#include "framework/Wnd.h"
#include "ui/Scaling.h"
#include "ui/SkinButton.h"

#include <memory>
#include <string>

// Posted to the owner when the left button is released over the popup's body.
constexpr UINT UM_NOTIFIER_CLICKED = WM_USER + 123;
// The buttons' ids do not fit in 16 bits: commands carry only their low words.
constexpr UINT IDC_NOTIFIER_CANCEL = 305010;
constexpr UINT IDC_NOTIFIER_INSTALL = 305011;

class CTaskbarNotifier : public CWnd {
public:
    enum {
        STATE_HIDDEN,
        STATE_APPEARING,
        STATE_WAITING,
        STATE_DISAPPEARING
    };
    enum {
        EDGE_TOP = 1,
        EDGE_LEFT,
        EDGE_RIGHT,
        EDGE_BOTTOM
    };
    enum {
        TIMER_APPEAR = 1,
        TIMER_STAY,
        TIMER_DISAPPEAR
    };

    CTaskbarNotifier();
    ~CTaskbarNotifier() override;

    // The hidden popup, owned by pOwner's window, which hears of clicks and the cancel.
    BOOL Create(CWnd* pOwner);
    void SetVersionText(const std::string& strVersion) { m_strVersion = strVersion; }
    // Loads the skin bitmap and cuts the key colour (-1 in a component: none) out of
    // the window's shape. FALSE when the bitmap is missing; the old size stays.
    BOOL SetSkin(UINT nBitmapID, short nRed, short nGreen, short nBlue);
    void SetTextColor(COLORREF crText);
    // The figures of the current download; the popup is repainted when they change.
    void SetProgress(int nReceived, int nTotal);
    // The bar (once a total is known) in the text's place, or the text again.
    void ShowProgressBar(bool bShow);
    // Shows the text and starts or renews the slide-in, stay and slide-out, without
    // taking the keyboard; screen readers hear it as an alert.
    void Show(const char* pszText, DWORD dwShowTime, DWORD dwStayTime, DWORD dwHideTime);
    // Show, then the keyboard to the popup, its focus on the cancel button, for a user
    // who reached the tray icon by keyboard. It stays while it holds the focus; Esc
    // sends it out and the focus back.
    void ShowWithKeyboard(const char* pszText, DWORD dwShowTime, DWORD dwStayTime, DWORD dwHideTime);
    void Hide();

    // The bitmap as rows of blue, green and red bytes, top row first, each row padded
    // to RowBytes24 as DIBs are; the size is stored even when the bits cannot be read.
    static std::unique_ptr<BYTE[]> GetBitmapBits24(HBITMAP hBitmap, WORD* pWidth, WORD* pHeight);
    static DWORD RowBytes24(WORD nWidth) { return (nWidth * 3u + 3) & ~3u; }
    // The bitmap's rectangle without its pixels of the key colour.
    static HRGN BuildSkinRegion(HBITMAP hBitmap, BYTE red, BYTE green, BYTE blue);

    bool m_bShowProgress = false; // written by the owner: paint the progress, not the text

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCreate();
    void OnTimer(UINT_PTR nIDEvent);
    void OnPaint();
    void Draw(HDC dc); // the texts and the progress over the skin
    BOOL OnEraseBkgnd(HDC hDC);
    // Forwards the cancel command to the owner, whose handler ends the program.
    void OnCancelUpdate();
    void Place() const;
    // Where the slide starts for the current size: just outside the work area's edge.
    POINT StartPoint(const RECT& work, int nEdge) const;
    // The work area, and the scale of the monitor it is on: the taskbar's.
    static UINT TaskbarDpi(RECT* pWork);
    // Skin, shape, fonts and buttons at nDpi; FALSE when the skin cannot be loaded.
    BOOL Layout(UINT nDpi);
    // Lays out again when the taskbar monitor's scale is no longer the popup's.
    void OnDpiChanged();
    int Scaled(int n) const { return ScalePixels(n, m_nDpi); }
    void Repaint() const { RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }
    // The painted texts and the bar's width in a row of nWidth pixels.
    std::string TitleText() const;
    std::string CountsText() const;
    std::string PercentText() const;
    int BarWidth(int nWidth) const;
    // What a screen reader reads: the text, with the percentage while the bar shows.
    // Kept as the window's text, so the system's own proxy reads it too.
    void UpdateName();
    void SetKeyboardUser(bool bKeyboard);
    bool HoldsKeyboard() const;
    void OnEscape();
    void OnEnter();

    CWnd* m_pOwner = nullptr;
    COLORREF m_crText = RGB(133, 146, 181);
    HCURSOR m_hHandCursor = nullptr;
    UINT m_nDpi = kDefaultDpi; // the scale everything is laid out at
    UINT m_nSkinID = 0;
    COLORREF m_crKey = CLR_INVALID; // cut out of the window's shape
    CBitmap m_bmpSkin;
    int m_nSkinWidth = 0;
    int m_nSkinHeight = 0;
    std::string m_strText;
    CFont m_fontText;
    CFont m_fontTitle;
    std::string m_strVersion;
    int m_nTotal = 0;
    int m_nReceived = 0;
    CSkinButton m_btnCancel;
    CSkinButton m_btnInstall;
    BOOL m_bHover = FALSE;
    int m_nState = STATE_HIDDEN;
    DWORD m_dwShowTime = 0;
    DWORD m_dwStayTime = 0;
    DWORD m_dwHideTime = 0;
    DWORD m_dwShowTick = 0;
    DWORD m_dwHideTick = 0;
    int m_nStartX = 0;
    int m_nStartY = 0;
    int m_nCurX = 0;
    int m_nCurY = 0;
    int m_nEdge = 0;
    const int m_nStep = 2; // pixels a tick at 96 DPI
    std::string m_strName;
    bool m_bKeyboard = false;    // shown for a keyboard user, until Esc or hidden
    HWND m_hWndReturn = nullptr; // the window Esc gives the focus back to
    bool m_bLiveRegion = false;  // marked once a reader has asked
};
