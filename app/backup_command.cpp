// The Backup command: the device writes its configuration to our TFTP server, and the text is
// stored in the file the operator chose.
#include "app/command_report.h"
#include "app/command_steps.h"
#include "app/commands.h"
#include "app/dialog_ids.h"
#include "devicecmd/cli_commands.h"
#include "platform/log.h"
#include "tftp/tftp_server.h"

int DoBackup(plat::WindowRef dialog, int, ConnectionSettingsRecord* settings) {
    LastCommandReport = CommandReportRecord{};
    if (TftpPortAvailable() == 0 && IsTftpServerRunning() == 0) {
        plat::Log("Error, could not open the TFTP port.\n");
        ShowCommandBox(dialog, command_text::kPortWarning);
        LastCommandReport.Result = CommandResult::PortUnavailable;
        return 1;
    }

    CommandFields fields;
    ReadConnectionFields(dialog, fields);
    if (!ConnectionFieldsPresent(dialog, fields, command_text::kNoBackupHost)) return 1;
    PrintConnectionLine(*settings);

    char path[260];
    plat::Toolkit().SetFieldText(dialog, IDC_FILENAME, "");
    if (!ChooseCommandFile(dialog, ChooseBackupFile, settings, path)) return 1;
    SetTargetPath(path);

    if (!DeviceIsTavio(dialog, fields.host, command_text::kUnsupportedBackup)) return 1;
    std::uint32_t ticket = 0;
    if (!ReadyTftpServerForDevice(&ticket)) return 1;
    if (SendListChangesCommand() == 0) {
        SoundInformationBeep();
        LastCommandReport.Result = CommandResult::DeviceCommandFailed;
        return 1;
    }
    const TftpRunOutcome transfer = AwaitCommandTransfer(ticket);
    const std::string target = GetTargetPath();
    SoundInformationBeep();
    if (transfer.Result != TftpRunResult::FileStored) {
        ShowCommandBox(dialog, command_text::kBackupFailed, target.c_str());
        LastCommandReport.Result = transfer.Result == TftpRunResult::StoreFailed
                                       ? CommandResult::FileUnusable
                                       : CommandResult::TransferFailed;
        return 1;
    }
    ShowCommandBox(dialog, command_text::kBackupComplete, target.c_str());
    LastCommandReport = CommandReportRecord{CommandResult::Completed, transfer.Bytes};
    return 1;
}
