// Where a backup's text goes: the file named on the command line, or standard output for "-"
// (`backup HOST -`, `restore HOST FILE --safety-backup -`). Standard output then carries the
// device's text and nothing else: it is written once the whole text has arrived, not at all when
// the backup fails, and every other line of the run (the result line, --json, the errors) goes
// to standard error.
//
// Contract: main thread, around one Backup command run by the command-line tool.
#pragma once

#include <string>
#include <string_view>

#include "cli/cli_io.h"
#include "cli/cli_options.h"

inline constexpr std::string_view kStandardOutputName = "-";

// True when this run writes a backup's text to standard output.
bool BackupTextGoesToStandardOutput(const CliOptions& options);

// What the run's reports are written through: `io` itself, or, when a backup's text goes to
// standard output, `io` with its standard output turned to standard error.
CliIo ReportIo(const CliOptions& options, const CliIo& io);

// One Backup command's destination. For "-" the command keeps the device's text in memory
// (CommandSettings.BackupText) from construction to destruction, and Deliver writes it whole to
// `writeOut`; for a file name it changes nothing and the command writes the file.
class BackupDestination {
public:
    BackupDestination(const std::string& file, void (*writeOut)(std::string_view));
    ~BackupDestination();
    BackupDestination(const BackupDestination&) = delete;
    BackupDestination& operator=(const BackupDestination&) = delete;

    // After the command: the text goes out when the backup completed, nothing otherwise.
    void Deliver(bool completed);

private:
    bool toStandardOutput_;
    void (*writeOut_)(std::string_view);
    std::string text_;
};
