#include "cli/cli_run.h"

#include "app/command_report.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/temporary_files.h"
#include "cli/backup_output.h"
#include "cli/cli_options.h"
#include "cli/cli_outcome.h"
#include "cli/cli_reporting.h"
#include "cli/cli_restore.h"
#include "cli/cli_session.h"
#include "cli/cli_toolkit.h"
#include "cli/fleet_command.h"
#include "cli/password_source.h"
#include "devicecmd/device_settings.h"
#include "devicecmd/server_probe.h"
#include "morvane_version.h"
#include "platform/log.h"
#include "spine/count_text.h"
#include "spine/failure_cause.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_settings.h"

namespace {

const CliIo* activeIo = nullptr;
// The run's own standard output, for a backup's text when FILE is "-" (activeIo then writes its
// standard output to standard error).
void (*standardOutput)(std::string_view) = nullptr;


const char* ServerTypeText(ServerType type) {
    switch (type) {
        case SERVER_TAVIO: return "Tavio";
        case SERVER_TAVIO_21: return "Tavio 21";
        case SERVER_TAVIO_22: return "Tavio 22";
        case SERVER_UNSUPPORTED: return "unsupported product";
        case SERVER_UNRECOGNISED: break;
    }
    return "unrecognised";
}

// A failure's one line on standard error, kept for --json too.
void WriteCause(const std::string& line, CliOutcome& outcome) {
    if (line.empty()) return;
    outcome.cause = line;
    activeIo->writeErr("morvane-cli: " + line + "\n");
}

int RunProbe(const CliOptions& options, CliOutcome& outcome) {
    const ServerType type = ProbeServerType(options.host.c_str());
    outcome.detail = ServerTypeText(type);
    const bool failed = type == SERVER_UNRECOGNISED && LastReportedError() != 0;
    // A probe that never reached a web server names why, not a type.
    WriteCause(failed ? CauseLine(LastReportedCause()) : std::string(), outcome);
    if (!options.json && outcome.cause.empty()) activeIo->writeOut(outcome.detail + "\n");
    if (failed) return EXIT_NETWORK;
    return type == SERVER_UNRECOGNISED || type == SERVER_UNSUPPORTED ? EXIT_NOT_TAVIO : EXIT_OK;
}

// Why the TFTP server could not be made ready: the socket step that failed, when one was the
// run's last error, else the readiness bound that ran out.
std::string TftpNotReadyCause(const CliOptions& options) {
    SocketSetupFailure failure = LastSocketSetupFailure();
    if (failure.event != LastReportedError()) failure = {};
    return TftpPortFailureText(failure, options.tftpPort, TftpSettings.ReadyTimeoutMs);
}

// restore --safety-backup: the device's configuration as it is now, backed up into the safety
// file before anything is sent to the device. EXIT_OK, or the failed backup's exit code.
int RunSafetyBackup(const CliOptions& options, const std::string& password, CliOutcome& outcome) {
    RegisterCliToolkit(CliToolkitSetup{options.host, options.user, password, options.safetyBackup,
                                       false, options.verbose, activeIo});
    BackupDestination destination(options.safetyBackup, standardOutput);
    const CommandReport report = RunBackupCommand(nullptr, &ConnectionSettings);
    FinishProgressLine();
    const int code = ExitCodeForCommand(report.Result, LastReportedError());
    destination.Deliver(code == EXIT_OK);
    if (code == EXIT_TFTP_PORT)
        WriteCause(TftpNotReadyCause(options), outcome);
    else if (code != EXIT_OK)
        WriteCause(CauseLine(report.Cause), outcome);
    if (code != EXIT_OK) {
        activeIo->writeErr("The safety backup into " + options.safetyBackup +
                           " failed: the device was not restored.\n");
    } else if (!options.json && !options.quiet) {
        activeIo->writeOut("Safety backup complete: " + options.safetyBackup + " (" +
                           CountText(report.Bytes, "byte") + ")\n");
    }
    RegisterCliToolkit(CliToolkitSetup{options.host, options.user, password, options.file,
                                       options.factoryReset, options.verbose, activeIo});
    return code;
}

int RunTransferCommand(const CliOptions& options, CliOutcome& outcome) {
    const bool backup = options.command == CliCommand::Backup;
    BackupDestination destination(backup ? options.file : std::string(), standardOutput);
    const CommandReport report = backup ? RunBackupCommand(nullptr, &ConnectionSettings)
                                        : RunRestoreCommand(nullptr, &ConnectionSettings);
    FinishProgressLine();
    outcome.bytes = report.Bytes;
    const int code = ExitCodeForCommand(report.Result, LastReportedError());
    destination.Deliver(code == EXIT_OK);
    if (code == EXIT_OK && !options.json && !options.quiet) {
        const char* done = backup            ? "Backup complete: "
                           : report.ReadBack ? "Restore complete (verified): "
                                             : "Restore complete: ";
        activeIo->writeOut(done + options.file + " (" + CountText(outcome.bytes, "byte") + ")\n");
    }
    if (!backup) ReportRestoreFindings(report, options, *activeIo, outcome);
    if (code == EXIT_TFTP_PORT) {
        WriteCause(TftpNotReadyCause(options), outcome);
        // Every text the dialog would have shown, each on its line(s).
        outcome.detail = ReportedFailureTexts();
        if (outcome.detail.empty()) outcome.detail = outcome.cause;
    } else if (code != EXIT_OK) {
        WriteCause(CauseLine(report.Cause), outcome);
    }
    return code;
}

// backup, restore and probe, reporting through `io`.
int RunDeviceCommand(const CliOptions& options, const CliIo& io) {
    activeIo = &io;
    std::string error;
    std::string password;
    if (!ResolvePassword(options, &password, &error)) {
        io.writeErr("morvane-cli: " + error + "\n");
        if (options.json) io.writeOut(UsageErrorJson(error));
        return EXIT_USAGE;
    }
    if (!options.passwordFile.empty()) io.writeErr(PasswordFileWarning(options.passwordFile));

    StartCliSession(options, io, options.json);
    SetHost(options.host.c_str());
    SetUserName(options.user.c_str());
    SetPassword(password.c_str());
    RegisterCliToolkit(CliToolkitSetup{options.host, options.user, password, options.file,
                                       options.factoryReset, options.verbose, &io});

    CliOutcome outcome;
    outcome.host = options.host;
    outcome.file = options.file;
    int code = EXIT_OK;
    if (options.command == CliCommand::Probe) {
        outcome.command = "probe";
        code = RunProbe(options, outcome);
    } else {
        const bool restore = options.command == CliCommand::Restore;
        outcome.command = restore ? "restore" : "backup";
        // The file to restore is in memory, and checked, before anything else happens.
        if (restore) code = LoadRestoreFile(options, io, outcome);
        CommandSettings.RestoreImageLoaded = restore;
        CommandSettings.VerifyRestore = options.verify;
        if (code == EXIT_OK && options.dryRun) {
            code = RunRestoreDryRun(options, password, io, outcome);
        } else if (code == EXIT_OK) {
            if (!options.safetyBackup.empty()) code = RunSafetyBackup(options, password, outcome);
            if (code == EXIT_OK) code = RunTransferCommand(options, outcome);
            if (code != EXIT_OK && outcome.detail.empty()) outcome.detail = LastReportedPanel();
        }
        CommandSettings.RestoreImageLoaded = false;
        CommandSettings.VerifyRestore = false;
    }
    outcome.exitCode = code;
    outcome.result = ResultWord(code);
    if (options.json) io.writeOut(OutcomeJson(outcome));
    // The session's sink writes through `io`, which ends with the run; a line logged later (a
    // dally that outlives the run) goes nowhere.
    plat::SetLogSink(nullptr);
    return code;
}

// A usage error: its reason and the short usage line on standard error, and with --json the
// reason as a JSON object on standard output too.
int RefuseUsage(const CliIo& io, bool json, const std::string& reason) {
    io.writeErr("morvane-cli: " + reason + "\n" + kCliUsageLine);
    if (json) io.writeOut(UsageErrorJson(reason));
    return EXIT_USAGE;
}

int RunCommand(const std::vector<std::string>& args, const CliIo& givenIo) {
    activeIo = &givenIo;
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(args, &options, &error))
        return RefuseUsage(givenIo, CliArgsAskForJson(args), error);
    // -q: no progress line, whatever standard error is.
    const CliIo io{givenIo.writeOut, givenIo.writeErr, givenIo.errIsTerminal && !options.quiet};
    activeIo = &io;
    if (options.command == CliCommand::Help) {
        io.writeOut(kCliUsage);
        return EXIT_OK;
    }
    if (options.command == CliCommand::Version) {
        io.writeOut("morvane-cli " MORVANE_VERSION "\n");
        return EXIT_OK;
    }
    if (!ResolveCliAddresses(&options, &error)) return RefuseUsage(io, options.json, error);
    if (options.command == CliCommand::FleetBackup) return RunFleetBackupCommand(options, io);
    if (SafetyBackupIsRestoreFile(options))
        return RefuseUsage(io, options.json,
                           "--safety-backup needs a file other than the one to restore (" +
                               options.safetyBackup + " is " + options.file + ")");
    standardOutput = io.writeOut;
    return RunDeviceCommand(options, ReportIo(options, io));
}

}  // namespace

int RunMorvaneCli(const std::vector<std::string>& args, const CliIo& io) {
    // Standard output carries the results (the JSON, a backup's text) and nothing else, to the
    // process's end, whatever a lingering TFTP thread logs: diagnostic lines go where the
    // session puts them (--verbose: standard error) or nowhere.
    plat::KeepLogsOffStandardOutput();
    const int code = RunCommand(args, io);
    // A transfer still running when the command gave up on it leaves nothing behind.
    RemoveTemporaryFiles();
    return code;
}
