#include "cli/cli_options.h"

#include <getopt.h>

#include <charconv>
#include <string_view>
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
    "  -j, --jobs N           fleet-backup: up to N devices at once (default 8)\n"
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
    "  -q, --quiet            no progress and no lines that only inform (errors, warnings,\n"
    "                         results and --json stay); the last of -q and -v wins\n"
    "  --json                 print one JSON object with the outcome on standard output\n"
    "  -h, --help             show this help\n"
    "  --version              show the version\n"
    "\n"
    "Options go before, between or after the arguments; a value follows its option as the next\n"
    "argument, after '=' (--jobs=4), or right after a short one (-j4); short options bundle\n"
    "(-vj4 is -v -j 4); a long option may be shortened while it stays unambiguous; \"--\" ends\n"
    "the options.\n"
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

const char kCliUsageLine[] = "usage: morvane-cli COMMAND [OPTION]... (see morvane-cli --help)\n";

bool CliArgsAskForJson(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        // --json as written, or shortened as far as the parser takes it (--js).
        if (arg.size() >= 4 && std::string_view("--json").starts_with(arg)) return true;
    }
    return false;
}

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


// Every option the parser knows: its long name, its short one (if any), whether it takes a
// value, and the id getopt_long returns for it (the short letter, or a number above 255).
enum OptionId : int {
    kHelp = 'h',
    kUser = 'u',
    kVerbose = 'v',
    kQuiet = 'q',
    kJobs = 'j',
    kPassword = 'p',
    kVersion = 256,
    kPasswordFile,
    kAskPassword,
    kFactoryReset,
    kSafetyBackup,
    kDryRun,
    kVerify,
    kForce,
    kGit,
    kGitPush,
    kDiff,
    kMaxAge,
    kMetricsFile,
    kHtml,
    kOnly,
    kHttpPort,
    kTftpPort,
    kTftpAddress,
    kDeviceTftpAddress,
    kProbeTimeout,
    kCommandTimeout,
    kJson,
};

struct OptionRow {
    const char* longName;   // with its dashes
    const char* shortName;  // with its dash, or nullptr
    bool takesValue;
    OptionId id;
};

constexpr OptionRow kOptionRows[] = {
    {"--help", "-h", false, kHelp},
    {"--version", nullptr, false, kVersion},
    {"--user", "-u", true, kUser},
    {"--password-file", nullptr, true, kPasswordFile},
    {"--ask-password", nullptr, false, kAskPassword},
    {"--factory-reset", nullptr, false, kFactoryReset},
    {"--safety-backup", nullptr, true, kSafetyBackup},
    {"--dry-run", nullptr, false, kDryRun},
    {"--verify", nullptr, false, kVerify},
    {"--force", nullptr, false, kForce},
    {"--jobs", "-j", true, kJobs},
    {"--git", nullptr, false, kGit},
    {"--git-push", nullptr, false, kGitPush},
    {"--diff", nullptr, false, kDiff},
    {"--max-age", nullptr, true, kMaxAge},
    {"--metrics-file", nullptr, true, kMetricsFile},
    {"--html", nullptr, true, kHtml},
    {"--only", nullptr, true, kOnly},
    {"--http-port", nullptr, true, kHttpPort},
    {"--tftp-port", nullptr, true, kTftpPort},
    {"--tftp-address", nullptr, true, kTftpAddress},
    {"--device-tftp-address", nullptr, true, kDeviceTftpAddress},
    {"--probe-timeout", nullptr, true, kProbeTimeout},
    {"--command-timeout", nullptr, true, kCommandTimeout},
    {"--verbose", "-v", false, kVerbose},
    {"--quiet", "-q", false, kQuiet},
    {"--json", nullptr, false, kJson},
    // Known only to be refused: the password never comes from the command line.
    {"--password", "-p", false, kPassword},
};

const OptionRow* FindOptionRow(int id) {
    for (const OptionRow& row : kOptionRows)
        if (row.id == id) return &row;
    return nullptr;
}

// getopt_long's view of the table. A leading '-' hands every non-option back in its place (so
// options and arguments mix in any order, whatever POSIXLY_CORRECT says, and nothing in argv is
// moved); ':' keeps getopt_long quiet and tells a missing value from an unknown option.
struct GetoptTables {
    std::string shortOptions = "-:";
    std::vector<option> longOptions;
    GetoptTables() {
        for (const OptionRow& row : kOptionRows) {
            // --password=x is refused as --password is, not as a value it does not take.
            const int hasArg = row.id == kPassword ? optional_argument
                               : row.takesValue    ? required_argument
                                                    : no_argument;
            longOptions.push_back(option{row.longName + 2, hasArg, nullptr, row.id});
            if (row.shortName == nullptr) continue;
            shortOptions += row.shortName[1];
            if (row.takesValue) shortOptions += ':';
        }
        longOptions.push_back(option{nullptr, 0, nullptr, 0});
    }
};

const GetoptTables& Tables() {
    static const GetoptTables tables;
    return tables;
}

// The reason for what getopt_long refused (it returned '?' or ':'). `argv` and `optind` as it
// left them; `lastArg` the command line's last argument.
std::string RefusedOption(char* const* argv, const std::string& lastArg) {
    if (const OptionRow* row = FindOptionRow(optopt)) {
        // A known option: either its value is missing (it was the last argument, in its long or
        // short spelling) or a long one was given a value it does not take.
        if (!row->takesValue) return std::string(row->longName) + " takes no value";
        const bool longForm = lastArg.rfind("--", 0) == 0 || row->shortName == nullptr;
        return std::string(longForm ? row->longName : row->shortName) + " needs a value";
    }
    if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
    // An unknown long option, or an abbreviation of more than one.
    std::string given = argv[optind - 1];
    given = given.substr(0, given.find('='));
    std::vector<std::string> candidates;
    for (const OptionRow& row : kOptionRows)
        if (std::string_view(row.longName).starts_with(given)) candidates.push_back(row.longName);
    if (candidates.size() < 2) return "unknown option " + given;
    std::string list;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        list += (i == 0 ? "" : i + 1 == candidates.size() ? " or " : ", ") + candidates[i];
    return "ambiguous option " + given + " (" + list + ")";
}

// Takes one option with its value (empty when it takes none); `given` is the option as spelled
// on the command line (long or short). False with a reason when the value is not acceptable.
struct OptionTaker {
    CliOptions* options;
    std::string* error;
    std::string jobsGiven;  // -j or --jobs, when given
    std::string fleetOnly;  // the first option given that only fleet-backup takes

    bool Refuse(std::string reason) {
        *error = std::move(reason);
        return false;
    }
    bool Port(const std::string& given, const std::string& text, std::uint16_t* out) {
        return ParsePort(text, out) || Refuse(given + " takes a port number from 1 to 65535");
    }
    bool Seconds(const std::string& given, const std::string& text, int* out) {
        return ParseSeconds(text, out) ||
               Refuse(given + " takes a number of seconds from 1 to " +
                      std::to_string(kLongestTimeoutSeconds));
    }
    void FleetOnly(const std::string& given) {
        if (fleetOnly.empty()) fleetOnly = given;
    }

    bool Take(OptionId id, const std::string& given, const std::string& value) {
        CliOptions& o = *options;
        switch (id) {
            case kHelp: o.command = CliCommand::Help; return true;
            case kVersion: o.command = CliCommand::Version; return true;
            case kUser: o.user = value; return true;
            case kPasswordFile: o.passwordFile = value; return true;
            case kAskPassword: o.askPassword = true; return true;
            case kFactoryReset: o.factoryReset = true; return true;
            case kSafetyBackup: o.safetyBackup = value; return true;
            case kDryRun: o.dryRun = true; return true;
            case kVerify: o.verify = true; return true;
            case kForce: o.force = true; return true;
            case kJobs:
                jobsGiven = given;
                return ParseCount(value, &o.parallel) ||
                       Refuse(given + " takes a number of devices from 1 to " +
                              std::to_string(kMostDevicesAtOnce));
            case kGit: o.git = true; return true;
            // The store's history: --git-push pushes each commit (and implies --git).
            case kGitPush: o.git = o.gitPush = true; return true;
            // The fleet's report and records:
            case kDiff: o.diff = true; FleetOnly(given); return true;
            case kMaxAge:
                FleetOnly(given);
                return ParseCount(value, &o.maxAgeHours, kLongestMaxAgeHours) ||
                       Refuse(given + " takes a number of hours from 1 to " +
                              std::to_string(kLongestMaxAgeHours));
            case kMetricsFile: o.metricsFile = value; FleetOnly(given); return true;
            case kHtml: o.htmlFile = value; FleetOnly(given); return true;
            case kOnly:
                FleetOnly(given);
                return SplitNames(value, &o.only) ||
                       Refuse(given + " takes device names separated by commas");
            // End of the fleet's report and records.
            case kHttpPort: return Port(given, value, &o.httpPort);
            case kTftpPort: return Port(given, value, &o.tftpPort);
            case kTftpAddress: o.tftpAddress = value; return true;
            case kDeviceTftpAddress: o.deviceTftpAddress = value; return true;
            case kProbeTimeout: return Seconds(given, value, &o.probeTimeoutSeconds);
            case kCommandTimeout: return Seconds(given, value, &o.commandTimeoutSeconds);
            // -v and -q: the last one given wins.
            case kVerbose: o.verbose = true; o.quiet = false; return true;
            case kQuiet: o.quiet = true; o.verbose = false; return true;
            case kJson: o.json = true; return true;
            case kPassword:
                return Refuse(
                    "the password is never taken from the command line; use --password-file, "
                    "MORVANE_PASSWORD or --ask-password");
        }
        return Refuse("unknown option " + given);
    }
};

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options,
                     std::string* error) {
    // getopt_long wants a mutable argv with the program's name first; it keeps pointers into it
    // between calls, so the copy lives as long as the parse.
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.emplace_back("morvane-cli");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    const GetoptTables& tables = Tables();
    // A fresh scan, whatever an earlier parse in this process left behind: 0 makes glibc's
    // getopt_long and mingw-w64's (a BSD one) both start over, their bundle positions included.
    optind = 0;
    opterr = 0;
    std::vector<std::string> positional;
    OptionTaker taker{options, error, {}, {}};
    for (;;) {
        int longIndex = -1;
        const int id = getopt_long(argc, argv.data(), tables.shortOptions.c_str(),
                                   tables.longOptions.data(), &longIndex);
        if (id == -1) break;
        if (id == 1) {  // an argument, in its place among the options
            positional.emplace_back(optarg);
            continue;
        }
        if (id == '?' || id == ':') {
            *error = RefusedOption(argv.data(), args.empty() ? std::string() : args.back());
            return false;
        }
        const OptionRow* row = FindOptionRow(id);
        if (row == nullptr) {
            *error = "unknown option -" + std::string(1, static_cast<char>(id));
            return false;
        }
        const std::string given = longIndex >= 0 || row->shortName == nullptr
                                      ? std::string(row->longName)
                                      : std::string(row->shortName);
        if (!taker.Take(static_cast<OptionId>(id), given, optarg != nullptr ? optarg : ""))
            return false;
        if (options->command == CliCommand::Help || options->command == CliCommand::Version)
            return true;
    }
    // After "--": arguments only.
    for (int i = optind; i < argc; ++i) positional.emplace_back(argv[static_cast<std::size_t>(i)]);
    const std::string& jobsGiven = taker.jobsGiven;
    const std::string& fleetOnly = taker.fleetOnly;

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
    if (!options->passwordFile.empty() && options->askPassword) {
        *error = "--password-file and --ask-password are two sources of the password: give one";
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
    if (!fleet && (options->git || !jobsGiven.empty())) {
        *error = (options->git ? std::string("--git") : jobsGiven) + " goes with fleet-backup";
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
