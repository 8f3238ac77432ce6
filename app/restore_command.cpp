// The Restore command: the chosen file is loaded, the device fetches it from our TFTP server and
// applies it, and is then rebooted.
#include "app/command_steps.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/dialog_ids.h"
#include "devicecmd/cli_commands.h"
#include "platform/files.h"
#include "platform/log.h"
#include "tftp/tftp_server.h"

namespace {

bool FileCanBeOpened(const char* path) {
    const plat::FileHandle file = plat::FileOpenRead(path);
    if (file == plat::kNoFile) return false;
    plat::FileClose(file);
    return true;
}

// A failed device command: the cause is already on the panel.
CommandReport DeviceCommandFailed() {
    SoundInformationBeep();
    return CommandReport{CommandResult::DeviceCommandFailed};
}

}  // namespace

CommandReport RunRestoreCommand(plat::WindowRef dialog, ConnectionSettingsRecord* settings) {
    // Running server first, so a running one skips the port test: unlike Backup, on purpose.
    if (IsTftpServerRunning() == 0 && TftpPortAvailable() == 0) {
        plat::Log("Error, could not open the TFTP port.\n");
        return CommandReport{CommandResult::PortUnavailable};
    }

    CommandFields fields;
    ReadConnectionFields(dialog, fields);
    plat::Toolkit().SetFieldText(dialog, IDC_FILENAME, "");
    if (!ConnectionFieldsPresent(dialog, fields, command_text::kNoRestoreHost))
        return CommandReport{CommandResult::Declined};

    char path[260];
    if (!ChooseCommandFile(dialog, ChooseRestoreFile, settings, path))
        return CommandReport{CommandResult::Declined};
    if (!FileCanBeOpened(path)) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kUnreadableFile, path);
        plat::Toolkit().FocusControl(dialog, IDC_FILENAME);
        return CommandReport{CommandResult::FileUnusable};
    }
    if (LoadFileImage(path) == 0) {
        SoundInformationBeep();
        return CommandReport{CommandResult::FileUnusable};
    }
    PrintConnectionLine(*settings);

    CommandResult refusal{};
    if (!DeviceIsTavio(dialog, fields.host, command_text::kUnsupportedRestore, &refusal))
        return CommandReport{refusal};
    if (ShowCommandBox(dialog, command_text::kFactoryQuestion) == plat::kIdYes &&
        SendFactoryResetCommand() == 0)
        return DeviceCommandFailed();

    std::uint32_t ticket = 0;
    if (!ReadyTftpServerForDevice(&ticket)) return CommandReport{CommandResult::PortUnavailable};
    if (SendExecuteCommand() == 0) return DeviceCommandFailed();
    const TftpRunOutcome transfer = AwaitCommandTransfer(ticket);
    if (transfer.Result == TftpRunResult::LastAckMissing) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kRestoreUnconfirmed);
        return CommandReport{CommandResult::TransferUnconfirmed, transfer.Bytes};
    }
    if (transfer.Result != TftpRunResult::FileServed) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kRestoreFailed);
        return CommandReport{CommandResult::TransferFailed};
    }
    if (SendRebootCommand() == 0) return DeviceCommandFailed();

    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kRestoreComplete);
    return CommandReport{CommandResult::Completed, transfer.Bytes};
}

int DoRestore(plat::WindowRef dialog, int, ConnectionSettingsRecord* settings) {
    RunRestoreCommand(dialog, settings);
    return 1;
}
