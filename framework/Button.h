// A button control. An owner-drawn button draws itself in DrawItem, which its
// parent's WM_DRAWITEM reaches by reflection. Lives on the thread of its window.
#pragma once

#include "framework/Wnd.h"

class CButton : public CWnd {
public:
    BOOL Create(const char* pszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    void SetState(BOOL bPushed) const { SendMessage(BM_SETSTATE, bPushed); }
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int nCheck) const { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }

    virtual void DrawItem(LPDRAWITEMSTRUCT) {}

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
