// The store's state: per device, when its last good backup was, when it was last tried and how
// that went. Kept in STORE/.morvane-state, a text for people as well as for the next run, and
// out of the history (its times change at every run).
//
// Contract: the fleet command reads it once the store is locked, stamps each device's result
// from it as the device finishes (under the run's lock, one device at a time), and writes it
// whole at the run's end or when an interrupted run is recorded. Devices not in a run keep their
// lines. A missing or damaged file is never an error: the run starts afresh.
//
// The file: comment lines starting with '#', a header line, then one line per device with
// tab-separated fields: name, last good backup, last attempt (ISO 8601 UTC, "-" for none), the
// attempt's result ("stored", "unchanged", "failed (exit code 4)", and after a failure's exit
// code its cause as the report line gives it: "failed (exit code 4): 10.1.0.21:80: connect: ...").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fleet/fleet_report.h"

struct FleetDeviceRecord {
    std::int64_t lastGood = 0;     // seconds since 1970; 0: never
    std::int64_t lastAttempt = 0;  // seconds since 1970; 0: never
    std::string result;
};

using FleetState = std::map<std::string, FleetDeviceRecord>;  // by device name

// STORE/.morvane-state: its name starts with a dot, which no device name may.
std::string FleetStatePath(const std::string& store);

std::string FormatFleetState(const FleetState& state);
// False (and *state untouched) with the first fault in *error, e.g. "line 4: the last attempt
// is not a time".
bool ParseFleetState(std::string_view text, FleetState* state, std::string* error);

enum class FleetStateLoad { Read, Missing, Damaged };
// Damaged: *state is empty and *why says what is wrong with the file.
FleetStateLoad LoadFleetState(const std::string& store, FleetState* state, std::string* why);
// Written atomically, readable by its owner alone. False with the system's words in *error.
bool SaveFleetState(const std::string& store, const FleetState& state, std::string* error);

// Fills the result's attemptTime (`now`), lastGoodTime and stale from the device's record, and
// records this attempt in it. With maxAgeHours 0 nothing is stale; otherwise a failed device is
// stale when its last good backup is older than that, or when it has never had one.
void StampFleetResult(FleetState& state, FleetDeviceResult& result, std::int64_t now,
                      int maxAgeHours);
