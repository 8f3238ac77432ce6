// The Backup command: the device writes its configuration to our TFTP server, and the text is
// stored in the file the operator chose.
#include <string>

#include "app/backup_target.h"
#include "app/command_steps.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/dialog_ids.h"
#include "devicecmd/cli_commands.h"
#include "platform/log.h"
#include "tftp/tftp_server.h"

namespace {

// A target the backup could not create or replace is refused before the device is asked for
// anything, with the reason in the box. A backup kept in memory has no target.
bool TargetUsable(plat::WindowRef dialog, const char* path) {
    std::string why;
    FailureCause cause;
    if (CommandSettings.BackupText != nullptr || CheckBackupTarget(path, &why, &cause)) return true;
    NoteFailureCause(cause);
    plat::Log("The backup cannot be written to \"%s\": %s\n", path, why.c_str());
    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kBackupTargetUnusable,
                   (std::string(path) + "\r\n" + why).c_str());
    plat::Toolkit().FocusControl(dialog, IDC_FILENAME);
    return false;
}

CommandReport BackupSteps(plat::WindowRef dialog, ConnectionSettingsRecord* settings) {
    // Port first, then the running server: the opposite of Restore's order, on purpose.
    if (TftpPortAvailable() == 0 && IsTftpServerRunning() == 0) {
        plat::Log("Error, could not open the TFTP port.\n");
        ShowCommandBox(dialog, command_text::kPortWarning);
        return CommandReport{CommandResult::PortUnavailable};
    }

    CommandFields fields;
    ReadConnectionFields(dialog, fields);
    if (!ConnectionFieldsPresent(dialog, fields, command_text::kNoBackupHost))
        return CommandReport{CommandResult::Declined};
    PrintConnectionLine(*settings);

    char path[260];
    plat::Toolkit().SetFieldText(dialog, IDC_FILENAME, "");
    if (!ChooseCommandFile(dialog, ChooseBackupFile, settings, path))
        return CommandReport{CommandResult::Declined};
    SetTargetPath(path);
    if (!TargetUsable(dialog, path)) return CommandReport{CommandResult::FileUnusable};

    CommandResult refusal{};
    if (!DeviceIsTavio(dialog, fields.host, command_text::kUnsupportedBackup, &refusal))
        return CommandReport{refusal};
    const DeviceTransfer step = TransferThroughDevice(TransferOwner{}, CMD_LIST_CHANGES);
    if (step.stage == DeviceTransfer::Stage::NotReady) {
        ShowServerNotReady(dialog);
        return CommandReport{CommandResult::PortUnavailable};
    }
    if (step.stage == DeviceTransfer::Stage::CommandFailed) {
        SoundInformationBeep();
        return CommandReport{CommandResult::DeviceCommandFailed};
    }
    const TftpRunOutcome& transfer = step.transfer;
    const std::string target = GetTargetPath();
    SoundInformationBeep();
    const CommandResult result = BackupTransferResult(transfer);
    if (result != CommandResult::Completed) {
        ShowCommandBox(dialog, command_text::kBackupFailed, target.c_str());
        CommandReport failed{result};
        failed.Cause = result == CommandResult::FileUnusable
                           ? LastStoreFailure()
                           : TransferFailureCause(transfer, fields.host);
        return failed;
    }
    ShowCommandBox(dialog, command_text::kBackupComplete, target.c_str());
    return CommandReport{CommandResult::Completed, transfer.Bytes};
}

}  // namespace

CommandReport RunBackupCommand(plat::WindowRef dialog, ConnectionSettingsRecord* settings) {
    ForgetUnboundFailure();
    return WithFailureCause(BackupSteps(dialog, settings));
}

int DoBackup(plat::WindowRef dialog, int, ConnectionSettingsRecord* settings) {
    RunBackupCommand(dialog, settings);
    return 1;
}
