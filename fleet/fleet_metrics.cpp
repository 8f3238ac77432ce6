#include "fleet/fleet_metrics.h"

#include <algorithm>
#include <cstdio>

namespace {

struct DeviceMetric {
    const char* name;
    const char* help;
    std::string (*value)(const FleetDeviceResult& result);
};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string Whole(std::uint64_t value) {
    return std::to_string(value);
}

const DeviceMetric kDeviceMetrics[] = {
    {"morvane_fleet_device_last_success_timestamp_seconds",
     "When the device's last good backup ended, in seconds since 1970 (0: never).",
     [](const FleetDeviceResult& r) { return std::to_string(r.lastGoodTime); }},
    {"morvane_fleet_device_last_attempt_timestamp_seconds",
     "When the device's last backup attempt ended, in seconds since 1970.",
     [](const FleetDeviceResult& r) { return std::to_string(r.attemptTime); }},
    {"morvane_fleet_device_last_attempt_success",
     "Whether the device's last backup attempt succeeded (1) or failed (0).",
     [](const FleetDeviceResult& r) {
         return Whole(r.status == FleetDeviceStatus::Failed ? 0 : 1);
     }},
    {"morvane_fleet_device_stale",
     "Whether the device's last good backup is older than the run's maximum age (1) or not (0).",
     [](const FleetDeviceResult& r) { return Whole(r.stale ? 1 : 0); }},
    {"morvane_fleet_device_backup_size_bytes",
     "The size of the configuration the device sent in the last attempt.",
     [](const FleetDeviceResult& r) { return Whole(r.bytes); }},
    {"morvane_fleet_device_backup_duration_seconds",
     "How long the device's last backup attempt took.",
     [](const FleetDeviceResult& r) { return Number(r.seconds); }},
};

std::string Family(const char* name, const char* help) {
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

std::string MetricLabelValue(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"')
            quoted += {'\\', c};
        else if (c == '\n')
            quoted += "\\n";
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string FleetMetricsText(const std::vector<FleetDeviceResult>& results,
                             const FleetTally& tally, std::int64_t runTime) {
    std::vector<const FleetDeviceResult*> byName;
    for (const FleetDeviceResult& result : results) byName.push_back(&result);
    std::sort(byName.begin(), byName.end(), [](const auto* a, const auto* b) {
        return a->device.name < b->device.name;
    });
    std::string text;
    for (const DeviceMetric& metric : kDeviceMetrics) {
        if (byName.empty()) break;
        text += Family(metric.name, metric.help);
        for (const FleetDeviceResult* result : byName)
            text += std::string(metric.name) + "{device=" + MetricLabelValue(result->device.name) +
                    ",host=" + MetricLabelValue(result->device.host) + "} " +
                    metric.value(*result) + "\n";
    }
    text += Family("morvane_fleet_run_devices", "Devices of the last run, by result.");
    const std::pair<const char*, int> counts[] = {
        {"stored", tally.stored}, {"unchanged", tally.unchanged}, {"failed", tally.failed}};
    for (const auto& [result, count] : counts)
        text += std::string("morvane_fleet_run_devices{result=\"") + result + "\"} " +
                std::to_string(count) + "\n";
    text += Family("morvane_fleet_run_stale_devices",
                   "Devices of the last run whose last good backup is older than its maximum age.");
    text += "morvane_fleet_run_stale_devices " + std::to_string(tally.stale) + "\n";
    text += Family("morvane_fleet_run_duration_seconds", "How long the last run took.");
    text += "morvane_fleet_run_duration_seconds " + Number(tally.seconds) + "\n";
    text += Family("morvane_fleet_run_timestamp_seconds",
                   "When the last run ended, in seconds since 1970.");
    text += "morvane_fleet_run_timestamp_seconds " + std::to_string(runTime) + "\n";
    return text;
}
