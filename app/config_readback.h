// Reading a device's configuration back after a restore, and telling whether it took the file.
//
// Contract: ReadBackConfiguration runs on the command's thread, after the restore's transfer has
// ended; it backs the device up into memory through BackUpDevice (a probe and LIST CHANGES),
// with the given host and credentials, and reports through its own capture, not the registered
// hooks. CompareWithDevice is a pure function.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "spine/failure_cause.h"

struct ConfigComparison {
    // The file's configuration lines (non-empty once the line end is gone) that the device's
    // text does not hold, in the file's order, each once.
    std::vector<std::string> missing;
    // The device's lines that the file does not hold: information, never a failure.
    std::size_t extra = 0;
};

ConfigComparison CompareWithDevice(std::string_view fileText, std::string_view deviceText);

struct ReadBack {
    bool read = false;  // the device's text arrived
    std::string text;   // the device's text (CR LF line ends)
    std::string panel;  // why it did not arrive
    FailureCause cause;  // and the failure's cause, where it has one
};

ReadBack ReadBackConfiguration(const char* host, const char* userName, const char* password);
