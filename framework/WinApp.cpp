#include "framework/WinApp.h"

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp()
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* CWinApp::GetApp()
{
    return g_pApp;
}

int CWinApp::Run()
{
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        const HWND hMain = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
        if ((hMain && ::IsDialogMessageA(hMain, &msg)) || IsControlParentKey(&msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    m_nExitCode = got == 0 ? static_cast<int>(msg.wParam) : -1;
    return ExitInstance();
}

bool CWinApp::IsControlParentKey(MSG* pMsg)
{
    if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST || !pMsg->hwnd)
        return false;
    const HWND hRoot = ::GetAncestor(pMsg->hwnd, GA_ROOT);
    return (::GetWindowLongA(hRoot, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) && ::IsDialogMessageA(hRoot, pMsg);
}

int CWinApp::Main(HINSTANCE hInstance, const char* pszCmdLine)
{
    try {
        m_hInstance = hInstance;
        m_lpCmdLine = pszCmdLine ? pszCmdLine : "";
        return InitInstance() ? Run() : ExitInstance();
    } catch (...) {
        // Unwinding out of the entry point would end the process without a word.
        return -1;
    }
}

// Taken from the library only by a program that has no entry point of its own.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int)
{
    CWinApp* pApp = CWinApp::GetApp();
    return pApp ? pApp->Main(hInstance, lpCmdLine) : 1;
}
