// The command line of morvane-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { None, Backup, Restore, Probe, FleetBackup, Help, Version };

struct CliOptions {
    CliCommand command = CliCommand::None;
    std::string host;  // fleet-backup: the inventory
    std::string file;  // fleet-backup: the store
    std::string user = "root";
    std::string passwordFile;
    bool askPassword = false;
    bool factoryReset = false;
    bool verbose = false;
    bool quiet = false;  // -q: no progress, no lines that only inform; errors and results stay
    bool json = false;
    std::uint16_t httpPort = 80;
    std::uint16_t tftpPort = 69;
    // Overall bounds on the probe and on each device command; 0 keeps the built-in default.
    int probeTimeoutSeconds = 0;
    int commandTimeoutSeconds = 0;
    int parallel = 8;          // fleet-backup: devices at once
    bool git = false;          // fleet-backup: keep the store's history, creating it if need be
    bool gitPush = false;      // fleet-backup: push each history commit to its upstream (implies git)
    // fleet-backup's report and records.
    bool diff = false;              // print each changed device's diff
    int maxAgeHours = 0;            // a last good backup older than this is stale; 0: no limit
    std::string metricsFile;        // write the run's metrics here (textfile format)
    std::string htmlFile;           // write the run's page here
    std::vector<std::string> only;  // back up just these devices of the inventory (by name)
    std::string safetyBackup;  // restore: back the device up into this file first
    bool dryRun = false;       // restore: show what would change, send nothing
    bool verify = false;       // restore: read the configuration back before the reboot
    bool force = false;        // restore: send a file that does not look like a configuration
    // The TFTP addresses as given (empty: none), and once ResolveCliAddresses has run, as
    // addresses in host byte order (0: none; see DeviceSettings).
    std::string tftpAddress;        // ours, as the device is told it
    std::string deviceTftpAddress;  // backup, restore: the one the device's TFTP client sends from
    std::uint32_t tftpAddressValue = 0;
    std::uint32_t deviceTftpAddressValue = 0;
};

// Parses args (without the program name): GNU conventions (--opt=value, bundled short options,
// options and arguments in any order, "--" ends the options, a long option may be abbreviated
// while the abbreviation is unambiguous). On failure returns false with a one-line reason that
// names the option. Main thread: the parse uses getopt_long, whose state is process-wide.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options,
                     std::string* error);

// Resolves the address options into their values, a look-up for a name. On failure returns false
// with a one-line reason that names the option; a usage error like the parser's.
bool ResolveCliAddresses(CliOptions* options, std::string* error);

// The whole help (--help), and the one line that follows a usage error's reason.
extern const char kCliUsage[];
extern const char kCliUsageLine[];

// True when args ask for --json (anywhere before "--", also after a mistake): a usage error is
// then told as a JSON object too.
bool CliArgsAskForJson(const std::vector<std::string>& args);
