// A modeless dialog from a template resource, attached to its object like every other
// window. Lives on the thread that created it.
#pragma once

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    // Creates the dialog from template nIDTemplate of the executable; the object is
    // attached before WM_INITDIALOG.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

protected:
    // WM_INITDIALOG: TRUE gives the focus to the first control that takes it.
    virtual BOOL OnInitDialog() { return TRUE; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};
