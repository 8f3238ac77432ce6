// A fleet run's metrics in the text format that node exporter's textfile collector reads (and
// Prometheus scrapes): per device the last success and last attempt times, whether the last
// attempt succeeded, whether it is stale, the bytes and seconds of this run's backup; per run the
// devices by result, the stale ones, the duration and when the run ended.
//
// Contract: pure formatting, any thread. The front end writes the text atomically.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_report.h"

// `results` in any order (the text lists devices by name); `runTime` in seconds since 1970.
std::string FleetMetricsText(const std::vector<FleetDeviceResult>& results,
                             const FleetTally& tally, std::int64_t runTime);

// A label value as the format quotes it: backslash, double quote and line feed escaped.
std::string MetricLabelValue(const std::string& value);
