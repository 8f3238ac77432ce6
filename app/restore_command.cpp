// The Restore command: the chosen file is loaded, the device fetches it from our TFTP server and
// applies it, and is then rebooted.
#include "app/command_report.h"
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
int DeviceCommandFailed() {
    SoundInformationBeep();
    LastCommandReport.Result = CommandResult::DeviceCommandFailed;
    return 1;
}

}  // namespace

int DoRestore(plat::WindowRef dialog, int, ConnectionSettingsRecord* settings) {
    LastCommandReport = CommandReportRecord{};
    if (IsTftpServerRunning() == 0 && TftpPortAvailable() == 0) {
        plat::Log("Error, could not open the TFTP port.\n");
        LastCommandReport.Result = CommandResult::PortUnavailable;
        return 1;
    }

    CommandFields fields;
    ReadConnectionFields(dialog, fields);
    plat::Toolkit().SetFieldText(dialog, IDC_FILENAME, "");
    if (!ConnectionFieldsPresent(dialog, fields, command_text::kNoRestoreHost)) return 1;

    char path[260];
    if (!ChooseCommandFile(dialog, ChooseRestoreFile, settings, path)) return 1;
    if (!FileCanBeOpened(path)) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kUnreadableFile, path);
        plat::Toolkit().FocusControl(dialog, IDC_FILENAME);
        LastCommandReport.Result = CommandResult::FileUnusable;
        return 1;
    }
    if (LoadFileImage(path) == 0) {
        SoundInformationBeep();
        LastCommandReport.Result = CommandResult::FileUnusable;
        return 1;
    }
    PrintConnectionLine(*settings);

    if (!DeviceIsTavio(dialog, fields.host, command_text::kUnsupportedRestore)) return 1;
    if (ShowCommandBox(dialog, command_text::kFactoryQuestion) == plat::kIdYes &&
        SendFactoryResetCommand() == 0)
        return DeviceCommandFailed();

    std::uint32_t ticket = 0;
    if (!ReadyTftpServerForDevice(&ticket)) return 1;
    if (SendExecuteCommand() == 0) return DeviceCommandFailed();
    const TftpRunOutcome transfer = AwaitCommandTransfer(ticket);
    if (transfer.Result != TftpRunResult::FileServed) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kRestoreFailed);
        LastCommandReport.Result = CommandResult::TransferFailed;
        return 1;
    }
    if (SendRebootCommand() == 0) return DeviceCommandFailed();

    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kRestoreComplete);
    LastCommandReport = CommandReportRecord{CommandResult::Completed, transfer.Bytes};
    return 1;
}
