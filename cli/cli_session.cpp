#include "cli/cli_session.h"

#include "app/config_file_hooks.h"
#include "cli/cli_reporting.h"
#include "devicecmd/device_settings.h"
#include "platform/log.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_settings.h"

namespace {

void VerboseSink(std::string_view text) { WriteDiagnostic(text); }
void QuietSink(std::string_view) {}

}  // namespace

void StartCliSession(const CliOptions& options, const CliIo& io, bool quietReports) {
    StartCliReporting(io, quietReports, options.verbose);
    plat::SetLogSink(options.verbose ? VerboseSink : QuietSink);
    RegisterTransferHooks(CheckFilename, DownloadConfig, CliUploadConfig, CliReportError,
                          CliReportStatus);
    DeviceSettings.Port = options.httpPort;
    if (options.probeTimeoutSeconds > 0)
        DeviceSettings.ProbeDeadlineMs = options.probeTimeoutSeconds * 1000;
    if (options.commandTimeoutSeconds > 0)
        DeviceSettings.CommandDeadlineMs = options.commandTimeoutSeconds * 1000;
    TftpSettings.Port = options.tftpPort;
    DeviceSettings.TftpAddress = options.tftpAddressValue;
    DeviceSettings.DeviceTftpAddress = options.deviceTftpAddressValue;
}
