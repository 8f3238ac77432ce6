// What a fleet backup tells its operator: a line per device as it finishes, a summary, a live
// progress line, and the same as JSON objects.
//
// Contract: pure formatting, any thread; the runner decides when each is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_inventory.h"

enum class FleetDeviceStatus { Stored, Unchanged, Failed };

struct FleetDeviceResult {
    FleetDevice device;
    FleetDeviceStatus status = FleetDeviceStatus::Failed;
    std::uint64_t bytes = 0;
    double seconds = 0;
    int exitCode = 0;   // what the single-device backup would have exited with
    std::string cause;  // for a failure: what went wrong, in the operator's words
    // What the new text changed against the stored one (Stored only; a new device's file counts
    // all its lines as added and has no diff). `diff` is unified, with secrets masked.
    std::size_t linesAdded = 0;
    std::size_t linesRemoved = 0;
    std::string diff;
    // From the store's state, in seconds since 1970 (0: none): when this attempt was made, and
    // when the device's last good backup was (this one, when it succeeded).
    std::int64_t attemptTime = 0;
    std::int64_t lastGoodTime = 0;
    bool stale = false;  // its last good backup is older than --max-age allows
};

struct FleetTally {
    int devices = 0;  // in the inventory
    int stored = 0;
    int unchanged = 0;
    int failed = 0;
    int stale = 0;  // devices marked stale (any result)
    double seconds = 0;
    int Done() const { return stored + unchanged + failed; }
};

void CountFleetResult(FleetTally& tally, const FleetDeviceResult& result);

// "stored", "unchanged" or "failed": the result's word in every report.
const char* FleetStatusWord(FleetDeviceStatus status);

std::string FleetDeviceLine(const FleetDeviceResult& result);
// `countStale` (a run with --max-age): the stale devices are counted too.
std::string FleetSummaryLine(const FleetTally& tally, bool countStale = false);
// "37/120 done, 2 failed", without a line end.
std::string FleetProgressText(const FleetTally& tally);
// The history commit's message: the counts as its subject; its body a line for each added,
// changed and failed device (a failed one with its cause). `added` and `changed` are device
// names, `failed` the results of the failed devices.
std::string FleetCommitMessage(const FleetTally& tally, const std::vector<std::string>& added,
                               const std::vector<std::string>& changed,
                               const std::vector<FleetDeviceResult>& failed);

// `escape` turns a text into a JSON string literal, quotes included. The line counts are always
// there; a changed device's diff only `withDiff`.
std::string FleetDeviceJson(const FleetDeviceResult& result,
                            std::string (*escape)(const std::string&), bool withDiff = false);
std::string FleetSummaryJson(const FleetTally& tally, int exitCode,
                             std::string (*escape)(const std::string&));
