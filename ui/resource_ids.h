// Resource identifiers of the program. Plain #defines: the resource script reads this file too,
// as it reads the dialog's control ids in app/dialog_ids.h.
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDI_MORVANE 102
#define IDB_BANNER 103
#define IDM_ABOUT 16
