// The restore's steps around the Restore command: the file read and checked before anything
// else happens (a safety backup included), the dry run, and what a read-back found.
//
// Contract: main thread, after StartCliSession; the password is the resolved one. Each step
// writes its own lines through `io` (nothing on standard output with --json) and records what
// --json needs in `outcome`.
#pragma once

#include <string>

#include "app/command_report.h"
#include "cli/cli_io.h"
#include "cli/cli_options.h"
#include "cli/cli_outcome.h"

// True when --safety-backup names the file to restore (same file, or the same real path).
bool SafetyBackupIsRestoreFile(const CliOptions& options);
// Loads FILE into FileImage and, unless --force, refuses an empty file or one that is not a
// configuration text. EXIT_OK, or EXIT_LOCAL_FILE with the reason written.
int LoadRestoreFile(const CliOptions& options, const CliIo& io, CliOutcome& outcome);
// --dry-run: the device's configuration read into memory and the diff from it to FILE.
// EXIT_OK when the restore would proceed, else the failed read's exit code.
int RunRestoreDryRun(const CliOptions& options, const std::string& password, const CliIo& io,
                     CliOutcome& outcome);
// After the Restore command: why it was not confirmed, the lines a read-back missed.
void ReportRestoreFindings(const CommandReport& report, const CliOptions& options, const CliIo& io,
                           CliOutcome& outcome);
