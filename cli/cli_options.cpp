#include "cli/cli_options.h"

#include <charconv>
#include <tuple>
#include <utility>

#include "cli/tftp_address.h"

const char kCliUsage[] =
    "Usage:\n"
    "  morvane-cli backup HOST FILE [options]   back the device's configuration up into FILE\n"
    "  morvane-cli restore HOST FILE [--factory-reset] [--verify] [options]\n"
    "                                           restore FILE into the device, then reboot it\n"
    "  morvane-cli restore HOST FILE --dry-run [options]\n"
    "                                           show what restoring FILE would change\n"
    "  morvane-cli probe HOST [options]         tell what answers at HOST\n"
    "  morvane-cli fleet-backup INVENTORY STORE [-j N] [--git] [--git-push] [options]\n"
    "                                           back every device of INVENTORY up into STORE\n"
    "\n"
    "Options:\n"
    "  -u, --user NAME        user name on the device (default root)\n"
    "  --password-file FILE   read the password from the first line of FILE\n"
    "  --ask-password         prompt for the password (without echo)\n"
    "                         (otherwise MORVANE_PASSWORD, else the default password)\n"
    "  --factory-reset        restore: reset the device to factory defaults first\n"
    "  --safety-backup FILE   restore: back the device up into FILE first; no restore if that\n"
    "                         fails\n"
    "  --verify               restore: read the configuration back before the reboot; no\n"
    "                         reboot unless the device holds every line of FILE\n"
    "  --dry-run              restore: send nothing; print a diff from the device's\n"
    "                         configuration to FILE\n"
    "  --force                restore: send FILE even if it is empty or not a text\n"
    "  -j N                   fleet-backup: up to N devices at once (default 8)\n"
    "  --git                  fleet-backup: record each run that adds or changes a file as a\n"
    "                         commit in STORE's git work tree (STORE's own, created if need\n"
    "                         be, or one that encloses STORE)\n"
    "  --git-push             fleet-backup: --git, and push each commit to the upstream\n"
    "  --diff                 fleet-backup: print a diff of each changed device (secrets masked)\n"
    "  --max-age HOURS        fleet-backup: mark a device stale whose last good backup is\n"
    "                         older than HOURS\n"
    "  --metrics-file FILE    fleet-backup: write the run's metrics into FILE (node exporter\n"
    "                         textfile format)\n"
    "  --html FILE            fleet-backup: write a page of the run into FILE\n"
    "  --only NAME[,NAME...]  fleet-backup: back up only these devices of INVENTORY\n"
    "  --http-port N          the device's web port (default 80)\n"
    "  --tftp-port N          the UDP port of our TFTP server (default 69)\n"
    "  --tftp-address ADDR    the address of ours the device sends to or fetches from\n"
    "                         (default: our end of the connection to the device)\n"
    "  --device-tftp-address ADDR\n"
    "                         backup, restore: take the device's TFTP requests from ADDR\n"
    "                         (default: the address its web server answered on)\n"
    "  --probe-timeout S      give up on a probe after S seconds (default 15)\n"
    "  --command-timeout S    give up on a device command after S seconds (default 600)\n"
    "  -v, --verbose          print the diagnostic lines on standard error\n"
    "  --json                 print one JSON object with the outcome on standard output\n"
    "  -h, --help             show this help\n"
    "  --version              show the version\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  usage error (bad arguments, empty host or user name, no file)\n"
    "  2  the host is not a recognised Tavio, or is an unsupported product\n"
    "  3  the device refused the credentials\n"
    "  4  network failure (name look-up, connect, send, receive)\n"
    "  5  the transfer did not happen or failed (the device never sent or fetched the file,\n"
    "     TFTP error or time-out)\n"
    "  5  also: a restore not confirmed (no reboot): our time-out cut the command short, or\n"
    "     the configuration read back lacks lines of FILE\n"
    "  6  local file error (restore file unreadable, too large, empty or not a text; backup\n"
    "     file not writable)\n"
    "  7  the TFTP port cannot be opened (held by another program, or no permission)\n"
    "  8  fleet-backup: one or more devices failed, or the history's commit\n"
    "     or push failed, or its HEAD is detached (the files are stored all the same)\n";

namespace {

bool ParsePort(const std::string& text, std::uint16_t* port) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

constexpr int kLongestTimeoutSeconds = 86400;
constexpr int kMostDevicesAtOnce = 256;
constexpr int kLongestMaxAgeHours = 24 * 365 * 10;

// A whole number from 1 to `most`.
bool ParseCount(const std::string& text, int* count, int most = kMostDevicesAtOnce) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > most)
        return false;
    *count = value;
    return true;
}

// "a,b,c" into names; false when a name is empty.
bool SplitNames(const std::string& text, std::vector<std::string>* names) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma - start);
        if (name.empty()) return false;
        names->push_back(name);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool ParseSeconds(const std::string& text, int* seconds) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > kLongestTimeoutSeconds)
        return false;
    *seconds = value;
    return true;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options,
                     std::string* error) {
    std::vector<std::string> positional;
    bool parallelGiven = false;
    std::string fleetOnly;  // the first option given that only fleet-backup takes
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        const auto port = [&](std::uint16_t* out) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParsePort(text, out)) {
                *error = arg + " takes a port number from 1 to 65535";
                return false;
            }
            return true;
        };
        const auto seconds = [&](int* out) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseSeconds(text, out)) {
                *error = arg + " takes a number of seconds from 1 to " +
                         std::to_string(kLongestTimeoutSeconds);
                return false;
            }
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            options->command = CliCommand::Help;
            return true;
        } else if (arg == "--version") {
            options->command = CliCommand::Version;
            return true;
        } else if (arg == "-u" || arg == "--user") {
            if (!value(&options->user)) return false;
        } else if (arg == "--password-file") {
            if (!value(&options->passwordFile)) return false;
        } else if (arg == "--ask-password") {
            options->askPassword = true;
        } else if (arg == "--factory-reset") {
            options->factoryReset = true;
        } else if (arg == "--safety-backup") {
            if (!value(&options->safetyBackup)) return false;
        } else if (arg == "--dry-run") {
            options->dryRun = true;
        } else if (arg == "--verify") {
            options->verify = true;
        } else if (arg == "--force") {
            options->force = true;
        } else if (arg == "-j" || arg == "--jobs") {
            std::string text;
            parallelGiven = true;
            if (!value(&text)) return false;
            if (!ParseCount(text, &options->parallel)) {
                *error = arg + " takes a number of devices from 1 to " +
                         std::to_string(kMostDevicesAtOnce);
                return false;
            }
        } else if (arg == "--git") {
            options->git = true;
        // The store's history: --git-push pushes each commit (and implies --git).
        } else if (arg == "--git-push") {
            options->git = true;
            options->gitPush = true;
        // End of the history's options. The fleet's report and records:
        } else if (arg == "--diff") {
            options->diff = true;
            fleetOnly = fleetOnly.empty() ? arg : fleetOnly;
        } else if (arg == "--max-age") {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseCount(text, &options->maxAgeHours, kLongestMaxAgeHours)) {
                *error = arg + " takes a number of hours from 1 to " +
                         std::to_string(kLongestMaxAgeHours);
                return false;
            }
            fleetOnly = fleetOnly.empty() ? arg : fleetOnly;
        } else if (arg == "--metrics-file" || arg == "--html") {
            if (!value(arg == "--html" ? &options->htmlFile : &options->metricsFile)) return false;
            fleetOnly = fleetOnly.empty() ? arg : fleetOnly;
        } else if (arg == "--only") {
            std::string text;
            if (!value(&text)) return false;
            if (!SplitNames(text, &options->only)) {
                *error = arg + " takes device names separated by commas";
                return false;
            }
            fleetOnly = fleetOnly.empty() ? arg : fleetOnly;
        // End of the fleet's report and records.
        } else if (arg == "--http-port") {
            if (!port(&options->httpPort)) return false;
        } else if (arg == "--tftp-port") {
            if (!port(&options->tftpPort)) return false;
        } else if (arg == "--tftp-address") {
            if (!value(&options->tftpAddress)) return false;
        } else if (arg == "--device-tftp-address") {
            if (!value(&options->deviceTftpAddress)) return false;
        } else if (arg == "--probe-timeout") {
            if (!seconds(&options->probeTimeoutSeconds)) return false;
        } else if (arg == "--command-timeout") {
            if (!seconds(&options->commandTimeoutSeconds)) return false;
        } else if (arg == "-v" || arg == "--verbose") {
            options->verbose = true;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--password" || arg == "-p") {
            *error = "the password is never taken from the command line; use --password-file, "
                     "MORVANE_PASSWORD or --ask-password";
            return false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }

    if (positional.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& command = positional[0];
    std::size_t wanted = 3;
    if (command == "backup") {
        options->command = CliCommand::Backup;
    } else if (command == "restore") {
        options->command = CliCommand::Restore;
    } else if (command == "probe") {
        options->command = CliCommand::Probe;
        wanted = 2;
    } else if (command == "fleet-backup") {
        options->command = CliCommand::FleetBackup;
    } else {
        *error = "unknown command " + command;
        return false;
    }
    const bool fleet = options->command == CliCommand::FleetBackup;
    if (positional.size() != wanted) {
        *error = command + (fleet         ? " takes INVENTORY and STORE"
                            : wanted == 3 ? " takes HOST and FILE"
                                          : " takes HOST");
        return false;
    }
    if (options->factoryReset && options->command != CliCommand::Restore) {
        *error = "--factory-reset goes with restore";
        return false;
    }
    if (!options->safetyBackup.empty() && options->command != CliCommand::Restore) {
        *error = "--safety-backup goes with restore";
        return false;
    }
    for (const auto& [given, name] :
         {std::pair{options->dryRun, "--dry-run"}, std::pair{options->verify, "--verify"},
          std::pair{options->force, "--force"}}) {
        if (given && options->command != CliCommand::Restore) {
            *error = std::string(name) + " goes with restore";
            return false;
        }
    }
    if (options->dryRun &&
        (options->factoryReset || options->verify || !options->safetyBackup.empty())) {
        *error =
            "--dry-run sends nothing: it does not go with --factory-reset, --verify or "
            "--safety-backup";
        return false;
    }
    if (!fleet && (options->git || parallelGiven)) {
        *error = std::string(options->git ? "--git" : "-j") + " goes with fleet-backup";
        return false;
    }
    if (!fleet && !fleetOnly.empty()) {
        *error = fleetOnly + " goes with fleet-backup";
        return false;
    }
    if (!options->tftpAddress.empty() && options->command == CliCommand::Probe) {
        *error = "--tftp-address goes with backup, restore and fleet-backup";
        return false;
    }
    if (!options->deviceTftpAddress.empty() && (options->command == CliCommand::Probe || fleet)) {
        *error =
            "--device-tftp-address goes with backup and restore (fleet-backup takes it from "
            "the inventory's device_tftp_address column)";
        return false;
    }
    options->host = positional[1];
    if (wanted == 3) options->file = positional[2];
    if (options->safetyBackup.size() > 259) {
        *error = "the safety backup's file name is longer than 259 characters";
        return false;
    }
    if (options->host.size() > 127 && !fleet) {
        *error = "HOST is longer than 127 characters";
        return false;
    }
    if (options->user.size() > 79) {
        *error = "the user name is longer than 79 characters";
        return false;
    }
    if (options->file.size() > 259 && !fleet) {
        *error = "FILE is longer than 259 characters";
        return false;
    }
    return true;
}

bool ResolveCliAddresses(CliOptions* options, std::string* error) {
    for (const auto& [text, value, name] :
         {std::tuple{&options->tftpAddress, &options->tftpAddressValue, "--tftp-address"},
          std::tuple{&options->deviceTftpAddress, &options->deviceTftpAddressValue,
                     "--device-tftp-address"}}) {
        *value = 0;
        if (text->empty()) continue;
        if (!ResolveTftpAddress(*text, value)) {
            *error = std::string(name) + " takes an IPv4 address or a name that resolves, not \"" +
                     *text + "\"";
            return false;
        }
    }
    return true;
}
