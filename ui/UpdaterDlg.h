// The hidden main dialog: the tray icon, the update engine and the notifier. It starts
// the update when it initialises, turns the engine's status messages into texts on the
// notifier, feeds it the download progress once a second while a download runs, and
// ends the program when the user cancels. Owns the engine and the notifier; lives on
// the user-interface thread.
#pragma once

#include "engine/UpdateEngine.h"
#include "framework/Dialog.h"
#include "ui/TaskbarNotifier.h"

#include <string>

constexpr UINT UM_TRAY_CALLBACK = WM_USER + 111;

// A new start of an installation asks its running copy, through this registered message
// sent to the copy's dialog, whether the copy is still at work. wParam: the asker's
// InstallationKey; lParam: nonzero to bring the popup up when it is.
constexpr char kSecondStartMessage[] = "Module_Client_Updater.SecondStart";
enum : LRESULT {
    SECOND_START_NOT_OURS = 0, // another installation's dialog, or none answered
    SECOND_START_AT_WORK = 1,  // the run goes on; the new start ends
    SECOND_START_ENDING = 2,   // the copy ends; the new start may check afresh
};
// Tells installation folders apart whatever the case of their letters.
DWORD InstallationKey(const std::string& folder);

class CUpdaterDlg : public CDialog {
public:
    // `installFolder` (with its final backslash) holds the main program; empty means
    // the updater's own folder.
    // An administrator's `policyUrl` takes the place of the user's server; with
    // `bUpdatesOff` the dialog only says that updates are off.
    explicit CUpdaterDlg(CWnd* pParent = nullptr, std::string installFolder = std::string(),
                         std::string policyUrl = std::string(), bool bUpdatesOff = false);
    ~CUpdaterDlg() override;

    // The modeless dialog from its template; never made visible.
    BOOL Create();
    // Cancels the update, removes the tray icon and ends the message loop.
    void QuitUpdater();

protected:
    // Where the run is, from the status messages' order; whether progress shows, the
    // timer runs, quiet mode stays quiet and a new start may take over follow from it.
    enum class RunPhase {
        Checking,        // started, or the update info read
        InfoDownload,    // the update info comes in
        PackageDownload, // a package comes in
        Packages,        // between package downloads, then checking, closing, running them
        Over,            // the final message has arrived, or the run never started
        Quitting,        // the program ends; no message changes that
    };
    static constexpr UINT_PTR kProgressTimer = 100;
    bool Downloading() const
    {
        return m_phase == RunPhase::InfoDownload || m_phase == RunPhase::PackageDownload;
    }
    bool InPackagePhase() const
    {
        return m_phase == RunPhase::PackageDownload || m_phase == RunPhase::Packages;
    }
    void SetPhase(RunPhase phase);
    // The bar with the download's progress while one runs, the status text otherwise.
    void ShowProgress();

    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnStatus(UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnTrayCallback(WPARAM wParam, LPARAM lParam);
    LRESULT OnSecondStart(WPARAM key, LPARAM show);
    void OnPaint();
    // Makes text the status, also the tray icon's tip.
    void SetStatus(const std::string& text);
    // Makes text the status and slides the notifier in with it.
    void ShowStatus(const std::string& text);
    // Shows a failed download's text, or quits in quiet mode.
    void OnDownloadFailed(LPARAM lResult);
    BOOL NotifyTray(DWORD dwMessage);

    CWnd* m_pParent;
    HICON m_hIcon;
    HICON m_hTrayIcon = nullptr; // owned: loaded at the small-icon size
    CUpdateEngine m_engine;
    std::string m_strStatus;
    CTaskbarNotifier m_notifier;
    bool m_bShowPopups = true;
    RunPhase m_phase = RunPhase::Checking; // a start that asks while this one begins waits
    const std::string m_strInstallFolder;
    const std::string m_strPolicyUrl;
    const bool m_bUpdatesOff;
    const UINT m_nTaskbarCreated;
    const UINT m_nSecondStart;
    bool m_bRightClick = false; // the icon's right button went down: a menu message follows
};
