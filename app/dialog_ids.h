// Control identifiers of the main dialog, shared by the commands, the dialog and its resource
// script (ui/morvane.rc). Plain #defines, so that the resource compiler can read them too.
#pragma once

#define IDC_HOST 1000
#define IDC_USERNAME 1001
#define IDC_PASSWORD 1002
#define IDC_RESTORE 1003
#define IDC_BROWSE 1004
#define IDC_FILENAME 1005  // hidden: the chosen file's path travels through it
#define IDC_BACKUP 1006
#define IDC_PANEL_TEXT 1007
#define IDC_PANEL_HEADING 1008
#define IDC_HOST_LABEL 1009
#define IDC_USERNAME_LABEL 1010
#define IDC_PASSWORD_LABEL 1011
#define IDC_BACK 1013
