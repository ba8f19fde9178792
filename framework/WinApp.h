// The application object: one per process, a global made before the entry point
// runs. The entry point calls InitInstance, then the message loop or ExitInstance.
// Lives on the user-interface thread.
#pragma once

#include "framework/Wnd.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    static CWinApp* GetApp();

    // TRUE enters the message loop; FALSE ends the program after ExitInstance.
    virtual BOOL InitInstance() { return FALSE; }
    // The message loop, until WM_QUIT; messages for the main window and its controls
    // go to IsDialogMessage first. Returns ExitInstance().
    virtual int Run();
    // Tab, Enter and Esc among the controls of another top-level window of ours that
    // is a control parent (WS_EX_CONTROLPARENT), as a dialog has them; true when the
    // key was used so. Mouse and other messages are left alone.
    static bool IsControlParentKey(MSG* pMsg);
    // The process's exit code: WM_QUIT's once the loop has run.
    virtual int ExitInstance() { return m_nExitCode; }
    // What the entry point does; no exception leaves it.
    int Main(HINSTANCE hInstance, const char* pszCmdLine);

    HINSTANCE m_hInstance = nullptr;
    const char* m_lpCmdLine = ""; // the arguments after the program name
    CWnd* m_pMainWnd = nullptr;

protected:
    int m_nExitCode = 0;
};
