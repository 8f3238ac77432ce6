// Control identifiers of the main dialog, shared by the commands and the dialog itself.
#pragma once

enum DialogControlId : int {
    IDC_HOST = 1000,
    IDC_USERNAME = 1001,
    IDC_PASSWORD = 1002,
    IDC_RESTORE = 1003,
    IDC_BROWSE = 1004,
    IDC_FILENAME = 1005,  // hidden: the chosen file's path travels through it
    IDC_BACKUP = 1006,
    IDC_PANEL_TEXT = 1007,
    IDC_PANEL_HEADING = 1008,
    IDC_HOST_LABEL = 1009,
    IDC_USERNAME_LABEL = 1010,
    IDC_PASSWORD_LABEL = 1011,
    IDC_BACK = 1013,
};
