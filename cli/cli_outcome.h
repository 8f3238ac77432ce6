// The outcome of one morvane-cli run: exit code, wording, and the JSON object of --json.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_report.h"

enum CliExitCode : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,
    EXIT_NOT_TAVIO = 2,
    EXIT_CREDENTIALS = 3,
    EXIT_NETWORK = 4,
    EXIT_TRANSFER = 5,
    EXIT_LOCAL_FILE = 6,
    EXIT_TFTP_PORT = 7,
    EXIT_FLEET_FAILED = 8,  // fleet-backup: a device failed, or the history's commit or push
};

struct CliOutcome {
    std::string command;  // backup, restore, probe
    std::string host;
    std::string file;
    int exitCode = EXIT_OK;
    std::string result;   // a word for the outcome: completed, not-tavio, ...
    std::string detail;   // the last error panel text, or the server type of a probe
    std::string cause;    // a failure's line without "morvane-cli: " (WHERE: WHAT: TEXT)
    std::uint64_t bytes = 0;
    std::string extraJson;  // further members, each ",\"name\":value" (a dry run's diff, ...)
};

// lastError: the last ErrorEvent reported during the command (0 when none).
int ExitCodeForCommand(CommandResult result, int lastError);
const char* ResultWord(int exitCode);
std::string OutcomeJson(const CliOutcome& outcome);
// The object --json prints for a run refused before it began (exit code 1): the outcome's
// "ok", "exit_code" and "result", then "error":"usage" and the reason as "message".
std::string UsageErrorJson(const std::string& message);
// A JSON string literal, quotes included, for any bytes: well-formed UTF-8 is copied as it is;
// control characters and each byte that is not part of well-formed UTF-8 become \u00XX, the byte
// read as Latin-1.
std::string JsonString(const std::string& text);
