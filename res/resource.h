// Resource identifiers shared by the .rc script and the code.
#pragma once

#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_NOTIFIER_SKIN 130
#define IDB_BUTTON_SKIN 131
// A bitmap's art at twice the size has its id plus this.
#define IDB_DOUBLE_SIZE 0x1000
#define IDB_NOTIFIER_SKIN_2X (IDB_NOTIFIER_SKIN + IDB_DOUBLE_SIZE)
#define IDB_BUTTON_SKIN_2X (IDB_BUTTON_SKIN + IDB_DOUBLE_SIZE)
