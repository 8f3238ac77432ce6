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
#include "tftp/tftp_booking.h"

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

// Just before the device command: the booking of the transfer the command is about to ask its
// device for, on a TFTP server whose socket is open (a fresh server when none runs), within
// TftpSettings.ReadyTimeoutMs. False: the command must send nothing; the cause is logged and
// told to the operator (the port box, after the cause reported through ReportError when the
// socket could not be opened); the command ends as PortUnavailable.
bool BookCommandTransfer(plat::WindowRef dialog, TftpBooking* booking);

// After the device closed the command connection: the outcome of the transfer the command asked
// for. When it returns, the run that served it has ended (unless other bookings keep it), so the
// next command starts a fresh server. Nothing is waited for past the command's deadline (end.deadlineAtMs): a transfer still
// running then is abandoned and counts as failed. A request refused while the command waited
// (another address than the device's) is logged as such: it is why no transfer came.
TftpRunOutcome AwaitCommandTransfer(const TftpBooking& booking, const CommandEnd& end);
