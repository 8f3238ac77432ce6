// The Backup and Restore commands and their file choosers.
//
// Contract: run on the dialog's thread (the front end's thread), each to its end before the next
// message is handled. They reach the window only through the registered dialog toolkit
// (platform/dialog_toolkit.h) and tell the operator everything through it; they always return 1.
// `settings` is the ConnectionSettings record (used for the diagnostic line).
#pragma once

#include "platform/dialog_toolkit.h"
#include "spine/shared_state.h"

int DoBackup(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
int DoRestore(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
int ChooseBackupFile(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
int ChooseRestoreFile(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
