// An owner-drawn button whose face comes from bitmap resources, one per state
// (normal, pressed, hover, focus, disabled), with its caption in a font and colour of
// its own. Created with a check-box or radio style it keeps a checked state of its
// own; radio buttons of a group uncheck each other with UM_UNCHECK. Owns its font,
// its images and its tooltip; lives on the thread of its window.
#pragma once

#include "framework/Button.h"
#include "framework/GdiObjects.h"
#include "framework/ToolTipCtrl.h"

// Posted to the other buttons of a radio group when one becomes checked.
constexpr UINT UM_UNCHECK = WM_USER + 256;

class CSkinButton : public CButton {
public:
    CSkinButton();
    ~CSkinButton() override;

    // Resource ids of the five images (0: none; a missing disabled image repeats the
    // normal one), draw mode 0 copy clipped to the window's shape, 1 stretch, 2 tile,
    // non-zero border for 3-D edges, focus rectangle inset (0: none). In mode 0 the
    // window takes the size and shape of the normal image, white being transparent.
    void SetBitmaps(UINT nNormal, UINT nPressed, UINT nHover, UINT nDisabled, UINT nFocus, short nDrawMode,
                    short nBorder, short nFocusInset);
    // The scale of the monitor it shows on (the system's until set): the caption's point
    // size and the images follow it; 96 is the images as they are.
    void SetDpi(UINT nDpi);
    // Caption colour of the enabled states; returns the previous one.
    COLORREF SetTextColor(COLORREF crText);
    // The focus rectangle's inset alone (0: none), as SetBitmaps takes it.
    void SetFocusInset(short nFocusInset);
    // Control ids of this radio button's group among its parent's children; checking
    // it unchecks the others. 0 in either bound: no group.
    void SetRadioGroup(UINT nFirst, UINT nLast);
    // Creates the tooltip on first use; needs the button's window.
    BOOL SetTooltipText(const char* pszText);

    void DrawItem(LPDRAWITEMSTRUCT pDrawItem) override;

    // Draws hBitmap into rc: mode 0 copies it clipped to this window's region (nothing
    // without one), 1 stretches it over rc, 2 tiles it. A null image draws nothing.
    void DrawBitmap(HDC hDC, HBITMAP hBitmap, RECT rc, short nDrawMode) const;
    void TileBitmap(HDC hDC, HBITMAP hBitmap, RECT rc) const;
    // A region of every pixel of hBitmap that is not exactly crKey; the caller owns
    // it. Null for a null image.
    HRGN CreateRegionFromBitmap(HBITMAP hBitmap, COLORREF crKey) const;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnKillFocus();
    LRESULT OnKeyDown(WPARAM wParam);
    void OnClicked();
    void OnSetCheck(WPARAM wParam);
    void OnUncheck();
    void UncheckGroup() const;
    void Relay(UINT message, WPARAM wParam, LPARAM lParam);
    bool IsButtonAt(POINT ptScreen) const;
    bool IsButtonAtClientPoint(LPARAM lParam) const;
    void DrawFace(HDC hDC, const CBitmap& bmp, const RECT& rc) const;
    void LoadImages(); // the images of m_nImages at m_nDpi, and mode 0's size and shape

    CFont m_font;
    bool m_bChecked = false;
    int m_nKind = 0; // 0 push button, 2 check box, 4 radio button
    bool m_bHover = false;
    bool m_bMouseDown = false;
    CToolTipCtrl m_tooltip;
    short m_nFocusInset = 0;
    COLORREF m_crText;
    int m_bBorder = 0;
    short m_nDrawMode = 1;
    CBitmap m_bmpNormal;
    CBitmap m_bmpPressed;
    CBitmap m_bmpDisabled;
    CBitmap m_bmpHover;
    CBitmap m_bmpFocus;
    UINT m_nImages[5] = {}; // normal, pressed, hover, disabled, focus
    UINT m_nDpi;
    UINT m_nGroupFirst = 0;
    UINT m_nGroupLast = 0;
};
