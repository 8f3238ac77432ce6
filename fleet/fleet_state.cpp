#include "fleet/fleet_state.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "fleet/fleet_atomic_file.h"
#include "fleet/fleet_time.h"
#include "platform/files.h"

namespace {

constexpr std::string_view kHeader = "name\tlast_good\tlast_attempt\tresult";
constexpr std::string_view kComment =
    "# fleet-backup's record of each device (times in UTC, - for none); rewritten by every run\n";

std::string TimeField(std::int64_t seconds) {
    return seconds == 0 ? "-" : FormatIsoUtc(seconds);
}

bool ParseTimeField(std::string_view field, std::int64_t* seconds) {
    if (field == "-") {
        *seconds = 0;
        return true;
    }
    return ParseIsoUtc(field, seconds);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

std::string ResultWord(const FleetDeviceResult& result) {
    const std::string word = FleetStatusWord(result.status);
    if (result.status != FleetDeviceStatus::Failed) return word;
    std::string told = word + " (exit code " + std::to_string(result.exitCode) + ")";
    if (result.cause.empty()) return told;
    // The cause as every report gives it, on the line's one field.
    told += ": " + result.cause;
    for (char& c : told)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return told;
}

}  // namespace

std::string FleetStatePath(const std::string& store) {
    return store + "/.morvane-state";
}

std::string FormatFleetState(const FleetState& state) {
    std::string text(kComment);
    text += std::string(kHeader) + "\n";
    for (const auto& [name, record] : state)
        text += name + "\t" + TimeField(record.lastGood) + "\t" + TimeField(record.lastAttempt) +
                "\t" + record.result + "\n";
    return text;
}

bool ParseFleetState(std::string_view text, FleetState* state, std::string* error) {
    FleetState read;
    bool headerSeen = false;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        const std::string at = "line " + std::to_string(number) + ": ";
        if (!headerSeen) {
            if (line != kHeader) {
                *error = at + "not the header line";
                return false;
            }
            headerSeen = true;
            continue;
        }
        const std::vector<std::string_view> fields = SplitTabs(line);
        if (fields.size() != 4) {
            *error = at + "4 fields expected, " + std::to_string(fields.size()) + " found";
            return false;
        }
        FleetDeviceRecord record;
        if (fields[0].empty()) {
            *error = at + "the name is empty";
            return false;
        }
        if (!ParseTimeField(fields[1], &record.lastGood)) {
            *error = at + "the last good backup is not a time";
            return false;
        }
        if (!ParseTimeField(fields[2], &record.lastAttempt)) {
            *error = at + "the last attempt is not a time";
            return false;
        }
        record.result = fields[3];
        if (!read.emplace(fields[0], std::move(record)).second) {
            *error = at + "the device " + std::string(fields[0]) + " is named twice";
            return false;
        }
    }
    if (!headerSeen) {
        *error = "no header line";
        return false;
    }
    *state = std::move(read);
    return true;
}

FleetStateLoad LoadFleetState(const std::string& store, FleetState* state, std::string* why) {
    state->clear();
    const std::string path = FleetStatePath(store);
    if (!plat::FileExists(path.c_str())) return FleetStateLoad::Missing;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    if (!in || in.bad()) {
        *why = "it cannot be read";
        return FleetStateLoad::Damaged;
    }
    if (!ParseFleetState(whole.str(), state, why)) return FleetStateLoad::Damaged;
    return FleetStateLoad::Read;
}

bool SaveFleetState(const std::string& store, const FleetState& state, std::string* error) {
    return WriteFileAtomically(FleetStatePath(store), FormatFleetState(state), true, error);
}

void StampFleetResult(FleetState& state, FleetDeviceResult& result, std::int64_t now,
                      int maxAgeHours) {
    FleetDeviceRecord& record = state[result.device.name];
    const bool good = result.status != FleetDeviceStatus::Failed;
    if (good) record.lastGood = now;
    record.lastAttempt = now;
    record.result = ResultWord(result);
    result.attemptTime = now;
    result.lastGoodTime = record.lastGood;
    result.stale = !good && maxAgeHours > 0 &&
                   (record.lastGood == 0 ||
                    now - record.lastGood > static_cast<std::int64_t>(maxAgeHours) * 3600);
}
