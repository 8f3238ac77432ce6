// Resource identifiers of the program (the dialog's control ids are in app/dialog_ids.h).
// Plain #defines: the resource script reads this file too.
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDI_MORVANE 102
#define IDB_BANNER 103
#define IDM_ABOUT 16
