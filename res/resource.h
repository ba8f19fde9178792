// Resource identifiers shared by the .rc script and the code.
#pragma once

#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_NOTIFIER_SKIN 130
#define IDB_BUTTON_SKIN 131
