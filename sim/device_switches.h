// The switches that shape one simulated device: its faults, its delays, its answers and its TFTP
// client's timing. One table serves both spellings: `--skip-tftp`, `--silent-after 4` on the
// tavio-sim command line (a whole single device, or every device of a fleet), and
// `skip-tftp`, `silent-after:4` in a fleet's per-device `--fault N=...`.
//
// Contract: pure functions on the caller's thread; they change only the SimOptions passed in.
#pragma once

#include <string>
#include <string_view>

#include "sim/sim_options.h"

// A whole decimal number from low to high; false for anything else (signs, blanks, overflow).
bool ParseBoundedInt(const std::string& text, long long low, long long high, long long* value);

enum class DeviceSwitchKind { Unknown, Flag, Valued };

// Whether `name` (without dashes) is a device switch, and whether it takes a value.
DeviceSwitchKind FindDeviceSwitch(std::string_view name);

// Applies switch `name` with `value` (ignored for a flag). False when the value is not
// acceptable or the name is no device switch.
bool ApplyDeviceSwitch(std::string_view name, const std::string& value, SimOptions* options);

// Applies "NAME" or "NAME:VALUE" (the per-device form). False, with a one-line reason in *error,
// for an unknown name, a missing or unexpected value, or a bad value.
bool ApplyDeviceSwitchText(std::string_view text, SimOptions* options, std::string* error);
