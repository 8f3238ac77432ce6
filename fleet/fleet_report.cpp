#include "fleet/fleet_report.h"

#include <cstdio>

#include "fleet/fleet_time.h"
#include "spine/count_text.h"

namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

// "; last good backup 3 days ago", for a failed device whose attempt was stamped with the
// store's state.
std::string LastGoodText(const FleetDeviceResult& result) {
    if (result.attemptTime == 0) return {};
    if (result.lastGoodTime == 0) return "; never backed up";
    return "; last good backup " + AgeText(result.lastGoodTime, result.attemptTime);
}

}  // namespace

const char* FleetStatusWord(FleetDeviceStatus status) {
    switch (status) {
        case FleetDeviceStatus::Stored:
            return "stored";
        case FleetDeviceStatus::Unchanged:
            return "unchanged";
        case FleetDeviceStatus::Failed:
            break;
    }
    return "failed";
}

void CountFleetResult(FleetTally& tally, const FleetDeviceResult& result) {
    switch (result.status) {
        case FleetDeviceStatus::Stored:
            ++tally.stored;
            break;
        case FleetDeviceStatus::Unchanged:
            ++tally.unchanged;
            break;
        case FleetDeviceStatus::Failed:
            ++tally.failed;
            break;
    }
    if (result.stale) ++tally.stale;
}

std::string FleetDeviceLine(const FleetDeviceResult& result) {
    std::string line =
        result.device.name + " (" + result.device.host + "): " + FleetStatusWord(result.status);
    if (result.status != FleetDeviceStatus::Failed)
        line += ", " + CountText(result.bytes, "byte");
    line += ", " + Seconds(result.seconds) + " s";
    if (result.status == FleetDeviceStatus::Failed)
        line += ": " + result.cause + " (exit code " + std::to_string(result.exitCode) + ")" +
                LastGoodText(result);
    if (result.stale) line += ", stale";
    return line + "\n";
}

std::string FleetSummaryLine(const FleetTally& tally, bool countStale) {
    return "Fleet backup: " + CountText(static_cast<std::uint64_t>(tally.devices), "device") + ", " +
           std::to_string(tally.stored) + " stored, " + std::to_string(tally.unchanged) +
           " unchanged, " + std::to_string(tally.failed) + " failed, " +
           (countStale ? std::to_string(tally.stale) + " stale, " : std::string()) + "in " +
           Seconds(tally.seconds) + " s\n";
}

std::string FleetProgressText(const FleetTally& tally) {
    return std::to_string(tally.Done()) + "/" + std::to_string(tally.devices) + " done, " +
           std::to_string(tally.failed) + " failed";
}

std::string FleetCommitMessage(const FleetTally& tally, const std::vector<std::string>& added,
                               const std::vector<std::string>& changed,
                               const std::vector<FleetDeviceResult>& failed) {
    std::string message = "Fleet backup: " + std::to_string(tally.stored) + " changed, " +
                          std::to_string(tally.unchanged) + " unchanged, " +
                          std::to_string(tally.failed) + " failed";
    std::string body;
    for (const std::string& name : added) body += "added: " + name + "\n";
    for (const std::string& name : changed) body += "changed: " + name + "\n";
    for (const FleetDeviceResult& result : failed)
        body += "failed: " + result.device.name + " (" + result.device.host +
                "): " + result.cause + "\n";
    if (!body.empty()) message += "\n\n" + body.substr(0, body.size() - 1);
    return message;
}

std::string FleetDeviceJson(const FleetDeviceResult& result,
                            std::string (*escape)(const std::string&), bool withDiff) {
    std::string json = "{\"name\":" + escape(result.device.name) +
                       ",\"host\":" + escape(result.device.host) + ",\"result\":\"" +
                       FleetStatusWord(result.status) + "\",\"bytes\":" + std::to_string(result.bytes) +
                       ",\"seconds\":" + Seconds(result.seconds) +
                       ",\"exit_code\":" + std::to_string(result.exitCode);
    if (result.status == FleetDeviceStatus::Failed) json += ",\"cause\":" + escape(result.cause);
    json += ",\"last_good\":" +
            (result.lastGoodTime == 0 ? std::string("null")
                                      : "\"" + FormatIsoUtc(result.lastGoodTime) + "\"") +
            ",\"stale\":" + (result.stale ? "true" : "false");
    json += ",\"lines_added\":" + std::to_string(result.linesAdded) +
            ",\"lines_removed\":" + std::to_string(result.linesRemoved);
    if (withDiff && !result.diff.empty()) json += ",\"diff\":" + escape(result.diff);
    return json + "}\n";
}

std::string FleetSummaryJson(const FleetTally& tally, int exitCode,
                             std::string (*)(const std::string&)) {
    return "{\"summary\":true,\"devices\":" + std::to_string(tally.devices) +
           ",\"stored\":" + std::to_string(tally.stored) +
           ",\"unchanged\":" + std::to_string(tally.unchanged) +
           ",\"failed\":" + std::to_string(tally.failed) +
           ",\"stale\":" + std::to_string(tally.stale) + ",\"seconds\":" + Seconds(tally.seconds) + ",\"exit_code\":" + std::to_string(exitCode) +
           "}\n";
}
