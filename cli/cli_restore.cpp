#include "cli/cli_restore.h"

#include <algorithm>

#include "app/config_file_hooks.h"
#include "app/device_backup.h"
#include "app/restore_file_check.h"
#include "app/secret_mask.h"
#include "app/text_diff.h"
#include "cli/cli_reporting.h"
#include "platform/files.h"
#include "spine/count_text.h"

namespace {

// Missing lines shown without -v or --json; the rest are counted.
constexpr std::size_t kMissingLinesShown = 5;

std::string JsonLines(const std::vector<std::string>& lines) {
    std::string json = "[";
    for (const std::string& line : lines)
        json += (json.size() > 1 ? "," : "") + JsonString(MaskSecretLine(line));
    return json + "]";
}

}  // namespace

bool SafetyBackupIsRestoreFile(const CliOptions& options) {
    return !options.safetyBackup.empty() &&
           plat::NamesSameFile(options.file.c_str(), options.safetyBackup.c_str());
}

int LoadRestoreFile(const CliOptions& options, const CliIo& io, CliOutcome& outcome) {
    const auto refuse = [&](const std::string& why) {
        outcome.detail = options.file + " " + why;
        io.writeErr("morvane-cli: " + outcome.detail + ".\n");
        return EXIT_LOCAL_FILE;
    };
    // A file that cannot be read is named with the step that failed and the system's words.
    const auto unreadable = [&](const std::string& why, const FailureCause& cause) {
        outcome.detail = options.file + " " + why;
        outcome.cause = CauseLine(cause);
        io.writeErr("morvane-cli: " + outcome.cause + "\n");
        return EXIT_LOCAL_FILE;
    };
    const plat::FileHandle file = plat::FileOpenRead(options.file.c_str());
    if (file == plat::kNoFile)
        return unreadable("could not be opened",
                          FailureCause{options.file, "open", plat::LastFileErrorText()});
    plat::FileClose(file);
    if (LoadFileImage(options.file.c_str()) == 0)
        return unreadable("could not be read whole (a restore file must be under " +
                              std::to_string(kImageSizeLimit) + " bytes)",
                          LatestUnboundFailure());
    if (options.force) return EXIT_OK;
    const RestoreFileVerdict verdict = CheckLoadedImage();
    if (verdict.usable) return EXIT_OK;
    return refuse(verdict.reason + "; nothing was sent to the device (--force sends it anyway)");
}

int RunRestoreDryRun(const CliOptions& options, const std::string& password, const CliIo& io,
                     CliOutcome& outcome) {
    std::string deviceText;
    DeviceBackupJob job{options.host, options.user, password, {}};
    job.text = &deviceText;
    const DeviceBackupResult read = BackUpDevice(job);
    if (read.result != CommandResult::Completed) {
        outcome.detail = read.panel;
        outcome.cause = CauseLine(read.cause);
        if (!outcome.cause.empty())
            io.writeErr("morvane-cli: " + outcome.cause + "\n");
        else
            io.writeErr("The device's configuration could not be read: " + read.panel + "\n");
        return ExitCodeForCommand(read.result, read.lastError);
    }
    TextDiff diff =
        DiffTexts(deviceText, LoadedImageText(), options.host + " (device)", options.file);
    diff.text = MaskSecretsInDiff(diff.text);
    outcome.extraJson += ",\"added\":" + std::to_string(diff.added) +
                         ",\"removed\":" + std::to_string(diff.removed) +
                         ",\"diff\":" + JsonString(diff.text);
    if (diff.approximate) outcome.extraJson += ",\"approximate\":true";
    if (options.json) return EXIT_OK;
    io.writeOut(diff.text);
    if (diff.approximate)
        io.writeOut(
            "(the texts differ too widely for a shortest diff: the differing middle is "
            "shown as replaced whole)\n");
    io.writeOut(diff.added + diff.removed == 0
                    ? "Dry run: " + options.file +
                          " holds the device's configuration line for line; nothing was sent.\n"
                    : "Dry run: restoring " + options.file + " would add " +
                          CountText(diff.added, "line") + " and remove " +
                          CountText(diff.removed, "line") + "; nothing was sent.\n");
    return EXIT_OK;
}

void ReportRestoreFindings(const CommandReport& report, const CliOptions& options, const CliIo& io,
                           CliOutcome& outcome) {
    if (!report.Reason.empty()) {
        io.writeErr(report.Reason + "\n");
        outcome.detail = report.Reason;
    }
    if (!report.ReadBack) return;
    const bool verified = report.MissingLines.empty();
    outcome.extraJson += std::string(",\"verified\":") + (verified ? "true" : "false") +
                         ",\"missing\":" + JsonLines(report.MissingLines) +
                         ",\"extra_lines\":" + std::to_string(report.ExtraLines);
    if (report.ExtraLines > 0 && !options.json && !options.quiet)
        io.writeErr("The device holds " + CountText(report.ExtraLines, "line") +
                    " beyond the file (information, not a failure).\n");
    if (verified) return;
    const std::size_t count = report.MissingLines.size();
    outcome.detail = "Restore not verified: " + CountText(count, "line") + " of " + options.file +
                     (count == 1 ? " is" : " are") + " not in the device's configuration";
    io.writeErr(outcome.detail + "; it was not rebooted:\n");
    const bool all = options.verbose || options.json;
    const std::size_t shown = all ? count : std::min(count, kMissingLinesShown);
    for (std::size_t i = 0; i < shown; ++i) io.writeErr("  " + MaskSecretLine(report.MissingLines[i]) + "\n");
    if (shown < count)
        io.writeErr("  ... and " + std::to_string(count - shown) + " more (-v shows them all)\n");
}
