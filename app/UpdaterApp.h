// The application object. Started under its installed name, the program relaunches
// itself from a _BAK copy through a self-deleting script and ends; started as the copy,
// it runs the update in the hidden main dialog. One copy per installation runs at a
// time. Lives on the user-interface thread.
#pragma once

#include <string>

#include "app/Policies.h"
#include "engine/Handle.h"
#include "framework/WinApp.h"
#include "ui/UpdaterDlg.h"

class CUpdaterApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;

    CUpdaterDlg* m_pUpdaterDlg = nullptr; // owned; the main window when running as the copy

private:
    BOOL RunAsCopy(const std::string& ownFolder);
    BOOL Relaunch(const std::string& self, const std::string& installFolder);

    CHandle m_hRunLock; // the copy's, from its start to its end
    CPolicies m_policies;
};
