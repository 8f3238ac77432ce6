// The Backup and Restore commands and their file choosers.
//
// Contract: run on the dialog's thread (the front end's thread), each to its end before the next
// message is handled. They reach the window only through the registered dialog toolkit
// (platform/dialog_toolkit.h) and tell the operator everything through it. `settings` is the
// ConnectionSettings record (used for the diagnostic line).
#pragma once

#include "app/command_report.h"
#include "platform/dialog_toolkit.h"
#include "spine/shared_state.h"

// The commands, returning what they came to to the front end that runs them.
CommandReport RunBackupCommand(plat::WindowRef dialog, ConnectionSettingsRecord* settings);
CommandReport RunRestoreCommand(plat::WindowRef dialog, ConnectionSettingsRecord* settings);

// The dialog's entry points: the same commands; they always return 1, which the dialog ignores.
int DoBackup(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
int DoRestore(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);

int ChooseBackupFile(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
int ChooseRestoreFile(plat::WindowRef dialog, int unused, ConnectionSettingsRecord* settings);
