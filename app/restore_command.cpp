// The Restore command: the chosen file is loaded and checked, the device fetches it from our TFTP
// server and applies it, and is then rebooted, but only once we know the command is over on the
// device's side and, where we read the configuration back, that the device has the whole file.
#include "app/command_steps.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/config_readback.h"
#include "app/dialog_ids.h"
#include "app/restore_file_check.h"
#include "devicecmd/cli_commands.h"
#include "devicecmd/device_settings.h"
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

// Loads the chosen file and checks that it can be a configuration, with the boxes of each
// refusal. False: the command ends with *report.
bool LoadAndCheckFile(plat::WindowRef dialog, const char* path, CommandReport* report) {
    if (!FileCanBeOpened(path)) {
        const FailureCause cause{path, "open", plat::LastFileErrorText()};
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kUnreadableFile, path);
        plat::Toolkit().FocusControl(dialog, IDC_FILENAME);
        *report = CommandReport{CommandResult::FileUnusable};
        report->Cause = cause;
        return false;
    }
    if (LoadFileImage(path) == 0) {
        SoundInformationBeep();
        *report = CommandReport{CommandResult::FileUnusable};
        return false;
    }
    const RestoreFileVerdict verdict = CheckLoadedImage();
    if (verdict.usable) return true;
    const std::string named = "\"" + std::string(path) + "\" " + verdict.reason;
    plat::Log("Not restoring: the file %s.\n", named.c_str());
    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kUnusableRestoreFile, named.c_str());
    *report = CommandReport{CommandResult::FileUnusable};
    report->Reason = path + (" " + verdict.reason);
    return false;
}

// Which of our limits cut the EXECUTE connection short, in words for the operator.
std::string CutShortReason(CommandEnding how) {
    const int limitMs = how == CommandEnding::IdleTimeout ? DeviceSettings.CommandIdleTimeoutMs
                                                          : DeviceSettings.CommandDeadlineMs;
    std::string reason = "The device had not ended the EXECUTE command when ";
    reason += EndingText(how);
    if (how != CommandEnding::ReplyTooLong)
        reason += " (" +
                  (limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s"
                                       : std::to_string(limitMs) + " ms") +
                  ")";
    return reason + " cut it short: it may still be applying the file, so it was not rebooted.";
}

// The device's configuration read back and compared with the file, into the report.
// True when it holds every configuration line of the file.
bool DeviceHoldsTheFile(const CommandFields& fields, CommandReport* report) {
    const ReadBack back = ReadBackConfiguration(fields.host, fields.userName, fields.password);
    if (!back.read) {
        report->Reason = "The configuration could not be read back: " +
                         (back.cause.Empty() ? back.panel : CauseLine(back.cause));
        return false;
    }
    ConfigComparison compared = CompareWithDevice(LoadedImageText(), back.text);
    report->ReadBack = true;
    report->MissingLines = std::move(compared.missing);
    report->ExtraLines = compared.extra;
    plat::Log("Read back: %zu line(s) of the file missing, %zu more on the device.\n",
              report->MissingLines.size(), report->ExtraLines);
    return report->MissingLines.empty();
}

CommandReport NotConfirmed(plat::WindowRef dialog, CommandReport report, bool box = true) {
    report.Result = CommandResult::TransferUnconfirmed;
    if (box) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kRestoreUnconfirmed);
    }
    return report;
}

CommandReport RestoreSteps(plat::WindowRef dialog, ConnectionSettingsRecord* settings) {
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
    CommandReport refused;
    if (!CommandSettings.RestoreImageLoaded && !LoadAndCheckFile(dialog, path, &refused))
        return refused;
    PrintConnectionLine(*settings);

    CommandResult refusal{};
    if (!DeviceIsTavio(dialog, fields.host, command_text::kUnsupportedRestore, &refusal))
        return CommandReport{refusal};
    if (ShowCommandBox(dialog, command_text::kFactoryQuestion) == plat::kIdYes &&
        SendFactoryResetCommand() == 0)
        return DeviceCommandFailed();

    const DeviceTransfer step = TransferThroughDevice(TransferOwner{}, CMD_EXECUTE);
    if (step.stage == DeviceTransfer::Stage::NotReady) {
        ShowServerNotReady(dialog);
        return CommandReport{CommandResult::PortUnavailable};
    }
    if (step.stage == DeviceTransfer::Stage::CommandFailed) return DeviceCommandFailed();
    const CommandEnd& end = step.end;
    const TftpRunOutcome& transfer = step.transfer;
    const bool served = transfer.Result == TftpRunResult::FileServed;
    if (!served && transfer.Result != TftpRunResult::LastAckMissing) {
        SoundInformationBeep();
        ShowCommandBox(dialog, command_text::kRestoreFailed);
        CommandReport failed{CommandResult::TransferFailed};
        failed.Cause = TransferFailureCause(transfer, fields.host);
        return failed;
    }
    CommandReport report{CommandResult::Completed, transfer.Bytes};
    // A command we cut off may still be at work on the device: never reboot it then.
    if (EndedByUs(end.how)) {
        report.Reason = CutShortReason(end.how);
        plat::Log("%s\n", report.Reason.c_str());
        return NotConfirmed(dialog, std::move(report));
    }
    // Without its last acknowledgement the device may or may not have the file: its
    // configuration tells.
    const bool verify = CommandSettings.VerifyRestore;
    if ((verify || !served) && !DeviceHoldsTheFile(fields, &report)) {
        if (report.Reason.empty() && !served)
            report.Reason =
                "The device never acknowledged the last part of the file, and its "
                "configuration lacks lines of it.";
        return NotConfirmed(dialog, std::move(report), !verify);
    }
    if (SendRebootCommand() == 0) return DeviceCommandFailed();

    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kRestoreComplete);
    return report;
}

}  // namespace

CommandReport RunRestoreCommand(plat::WindowRef dialog, ConnectionSettingsRecord* settings) {
    ForgetUnboundFailure();
    return WithFailureCause(RestoreSteps(dialog, settings));
}

int DoRestore(plat::WindowRef dialog, int, ConnectionSettingsRecord* settings) {
    RunRestoreCommand(dialog, settings);
    return 1;
}
