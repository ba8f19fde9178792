#include "framework/Button.h"

BOOL CButton::Create(const char* pszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateEx(0, "BUTTON", pszCaption, dwStyle, rect, pParentWnd, nID);
}

LRESULT CButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == UM_REFLECT_DRAWITEM) {
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
        return TRUE;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
