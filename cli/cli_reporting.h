// morvane-cli's bodies of the two reporting hooks: error panel texts on standard error, a progress
// bar while a file is served, and the last error code for the exit code.
//
// Contract: called on the main thread and on the TFTP server thread; never waits for either.
#pragma once

#include "cli/cli_io.h"

void StartCliReporting(const CliIo& io, bool quiet);
int LastReportedError();
const char* LastReportedPanel();  // text of the last panel, for --json
void FinishProgressLine();
bool CliReportError(int code, const void* detail);
bool CliReportStatus(int code, const void* detail);
