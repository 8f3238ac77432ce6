#include "cli/backup_output.h"

#include "app/command_report.h"

bool BackupTextGoesToStandardOutput(const CliOptions& options) {
    return (options.command == CliCommand::Backup && options.file == kStandardOutputName) ||
           (options.command == CliCommand::Restore && options.safetyBackup == kStandardOutputName);
}

CliIo ReportIo(const CliOptions& options, const CliIo& io) {
    if (!BackupTextGoesToStandardOutput(options)) return io;
    return CliIo{io.writeErr, io.writeErr, io.errIsTerminal};
}

BackupDestination::BackupDestination(const std::string& file,
                                     void (*writeOut)(std::string_view))
    : toStandardOutput_(file == kStandardOutputName), writeOut_(writeOut) {
    if (toStandardOutput_) CommandSettings.BackupText = &text_;
}

BackupDestination::~BackupDestination() {
    if (toStandardOutput_) CommandSettings.BackupText = nullptr;
}

void BackupDestination::Deliver(bool completed) {
    if (toStandardOutput_ && completed) writeOut_(text_);
    text_.clear();
}
