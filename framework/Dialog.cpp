#include "framework/Dialog.h"

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    if (m_hWnd)
        return FALSE;
    CWnd* const pPrevious = SetCreating(this);
    const HWND hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nIDTemplate),
                                           pParentWnd ? pParentWnd->m_hWnd : nullptr, DialogProc, 0);
    SetCreating(pPrevious);
    return hWnd && m_hWnd == hWnd;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

// The dialog manager's procedure is the window's own; ours attaches the object at the
// first message it gets (the font, for a template with one) and leaves the rest to the
// dialog manager's default processing.
INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Without a font message first, WM_INITDIALOG is that message: the object missed it.
    if (AttachCreating(hWnd) && message == WM_INITDIALOG)
        return ::SendMessageA(hWnd, WM_INITDIALOG, wParam, lParam);
    return FALSE;
}
