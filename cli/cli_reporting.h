// morvane-cli's bodies of the two reporting hooks: error panel texts on standard error, a progress
// line while a file is served or received (on a terminal only), and the last error code for the
// exit code. A panel whose event came with its cause (spine/failure_cause.h) is written only
// when verbose: the command's one line names that cause instead; the panel is kept for --json
// all the same.
//
// Contract: StartCliReporting runs on the main thread, which owns ConnectionSettings; the other
// calls here come from the main thread unless said otherwise. The hooks and WriteDiagnostic may
// also be called on the TFTP server thread and never wait for the main thread. A report made on
// the server thread is handed over to the main thread, which composes its panel text (from
// ConnectionSettings) and writes it the next time it reports, writes a diagnostic or a message
// box, or asks for the outcome. What the server thread writes after such a report waits behind
// it, so each thread's output keeps its order.
#pragma once

#include <cstdint>
#include <string_view>

#include "cli/cli_io.h"
#include "cli/tftp_port_failure.h"
#include "spine/failure_cause.h"

// quiet: no panel is written; verbose: every panel is, those with a cause too.
void StartCliReporting(const CliIo& io, bool quiet, bool verbose = false);
// Writes the reports handed over so far, in the order they were made.
void DeliverHandedOverReports();
int LastReportedError();
const char* LastReportedPanel();  // text of the last panel, for --json
// The cause the last reported event came with; empty when it came without one.
FailureCause LastReportedCause();
// An error box's text, kept with the panels: the run's failure texts for --json.
void KeepFailureText(std::string_view text);
// Every panel and error box of the run so far, in order, one after the other on lines of their own.
std::string ReportedFailureTexts();
// Clears the progress line, once the transfer is over.
void FinishProgressLine();
// The last socket set-up failure reported since StartCliReporting (event 0 when none), with the
// system's words taken on the thread that reported it.
SocketSetupFailure LastSocketSetupFailure();
// A diagnostic line for standard error (--verbose); any thread.
void WriteDiagnostic(std::string_view text);
bool CliReportError(int code, const void* detail);
bool CliReportStatus(int code, const void* detail);
// The UploadConfig hook: the application's own, and the bytes received so far on the progress
// line (a backup's text has no size to measure against). TFTP server thread.
int CliUploadConfig(const std::uint8_t* bytes, int count, std::uint32_t* written,
                    int packetLength, int blockNumber);
