// A tooltip control: its window, the tools registered with it, and relaying mouse
// messages to it. Lives on the thread of its window.
#pragma once

#include "framework/Wnd.h"

#include <commctrl.h>

class CToolTipCtrl : public CWnd {
public:
    // A topmost popup owned by pParentWnd's top-level window.
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);
    // The whole of pWnd becomes a tool showing pszText.
    BOOL AddTool(CWnd* pWnd, const char* pszText);
    void RelayEvent(MSG* pMsg) const { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg)); }
};
