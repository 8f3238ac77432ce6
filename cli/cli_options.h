// The command line of morvane-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { None, Backup, Restore, Probe, Help, Version };

struct CliOptions {
    CliCommand command = CliCommand::None;
    std::string host;
    std::string file;
    std::string user = "root";
    std::string passwordFile;
    bool askPassword = false;
    bool factoryReset = false;
    bool verbose = false;
    bool json = false;
    std::uint16_t httpPort = 80;
    std::uint16_t tftpPort = 69;
    // Overall bounds on the probe and on each device command; 0 keeps the built-in default.
    int probeTimeoutSeconds = 0;
    int commandTimeoutSeconds = 0;
};

// Parses args (without the program name). On failure returns false with a one-line reason.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options,
                     std::string* error);

extern const char kCliUsage[];
