// The steps the Backup and Restore commands share.
//
// Contract: dialog's thread only, inside a command; every step talks to the operator through the
// registered dialog toolkit.
#pragma once

#include "app/command_report.h"
#include "app/command_texts.h"
#include "devicecmd/cli_commands.h"
#include "platform/dialog_toolkit.h"
#include "spine/shared_state.h"
#include "app/device_transfer.h"

// The three connection fields as one command read them.
struct CommandFields {
    char host[128];
    char userName[80];
    char password[80];
};

using FileChooser = int (*)(plat::WindowRef, int, ConnectionSettingsRecord*);

void SoundInformationBeep();
// Shows the box owned by the dialog, its text formatted with fill where it has a %s.
int ShowCommandBox(plat::WindowRef dialog, const MessageBoxText& box, const char* fill = nullptr);

// Reads the Host, Username and Password fields (127, 79 and 79 characters at most) and stores them
// in ConnectionSettings.
void ReadConnectionFields(plat::WindowRef dialog, CommandFields& fields);
// The empty-host and empty-user-name checks with their beep, box and focus. False: the command
// ends as Declined.
bool ConnectionFieldsPresent(plat::WindowRef dialog, const CommandFields& fields,
                             const MessageBoxText& noHostBox);
// The "host:user:password" diagnostic line, the password masked.
void PrintConnectionLine(const ConnectionSettingsRecord& settings);

// Runs the chooser, then asks again while no file is chosen. False: the operator gave up (the
// command ends as Declined).
bool ChooseCommandFile(plat::WindowRef dialog, FileChooser chooser,
                       ConnectionSettingsRecord* settings, char (&path)[260]);

// The two probes, with their boxes. False: the command ends with *refusal (NotTavio or
// Unsupported).
bool DeviceIsTavio(plat::WindowRef dialog, const char* host, const MessageBoxText& unsupportedBox,
                   CommandResult* refusal);

// A command's report on its way out: a failure that does not name its cause yet takes the
// cause of the latest failure raised for the command (spine/failure_cause.h), when it had one.
// A restore left unconfirmed keeps none: its Reason says why.
CommandReport WithFailureCause(CommandReport report);

// The dialog's side of a server that could not be made ready (the step has logged why): a beep
// and the port box, after the cause the server reported through ReportError.
void ShowServerNotReady(plat::WindowRef dialog);
