// The hidden main dialog: the tray icon, the update engine and the notifier. It starts
// the update when it initialises, turns the engine's status messages into texts on the
// notifier, feeds it the download progress once a second, and ends the program when
// the user cancels. Owns the engine and the notifier; lives on the user-interface thread.
#pragma once

#include "engine/UpdateEngine.h"
#include "framework/Dialog.h"
#include "ui/TaskbarNotifier.h"

#include <string>

constexpr UINT UM_TRAY_CALLBACK = WM_USER + 111;

class CUpdaterDlg : public CDialog {
public:
    explicit CUpdaterDlg(CWnd* pParent = nullptr);
    ~CUpdaterDlg() override;

    // The modeless dialog from its template; never made visible.
    BOOL Create();
    // Cancels the update, removes the tray icon and ends the message loop.
    void QuitUpdater();

protected:
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnStatus(UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnTrayCallback(WPARAM wParam, LPARAM lParam);
    void OnPaint();
    // Makes text the status and slides the notifier in with it.
    void ShowStatus(const std::string& text);
    // Shows a failed download's text, or quits in quiet mode.
    void OnDownloadFailed(LPARAM lResult);
    BOOL NotifyTray(DWORD dwMessage);

    CWnd* m_pParent;
    HICON m_hIcon;
    CUpdateEngine m_engine;
    std::string m_strStatus;
    bool m_bDownloading = false;
    CTaskbarNotifier m_notifier;
    bool m_bShowPopups = true;
    bool m_bPackagePhase = false; // from the package phase's start until the run's end
    const UINT m_nTaskbarCreated;
};
