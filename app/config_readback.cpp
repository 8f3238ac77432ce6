#include "app/config_readback.h"

#include <unordered_set>

#include "app/device_backup.h"
#include "app/text_diff.h"
#include "platform/log.h"

ConfigComparison CompareWithDevice(std::string_view fileText, std::string_view deviceText) {
    std::unordered_set<std::string_view> device, file;
    for (const auto line : TextLines(deviceText))
        if (!line.empty()) device.insert(line);
    ConfigComparison result;
    for (const auto line : TextLines(fileText)) {
        if (line.empty() || !file.insert(line).second) continue;
        if (!device.contains(line)) result.missing.emplace_back(line);
    }
    for (const auto line : device)
        if (!file.contains(line)) ++result.extra;
    return result;
}

ReadBack ReadBackConfiguration(const char* host, const char* userName, const char* password) {
    plat::Log("Reading the device's configuration back.\n");
    ReadBack back;
    DeviceBackupJob job{host, userName, password, {}};
    job.text = &back.text;
    const DeviceBackupResult result = BackUpDevice(job);
    back.read = result.result == CommandResult::Completed;
    if (!back.read) {
        back.panel =
            result.panel.empty() ? "the device did not send its configuration" : result.panel;
        back.cause = result.cause;
        back.text.clear();
    }
    return back;
}
