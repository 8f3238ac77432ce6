// Any command line (arguments separated by zero bytes) through the parsers of morvane-cli and
// tavio-sim: each accepts it within its limits or gives a reason, and nothing else happens.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "sim/sim_command_line.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    if (size == 0) args.clear();

    CliOptions cli;
    std::string error;
    const bool parsed = ParseCliOptions(args, &cli, &error);
    // The parser starts afresh each time (getopt_long's state is the process's): a second parse
    // of the same line says the same.
    CliOptions again;
    std::string againError;
    FUZZ_CHECK(ParseCliOptions(args, &again, &againError) == parsed && againError == error);
    FUZZ_CHECK(again.host == cli.host && again.file == cli.file && again.user == cli.user &&
               again.parallel == cli.parallel && again.quiet == cli.quiet);
    if (parsed) {
        FUZZ_CHECK(cli.command != CliCommand::None);
        const bool named = cli.command == CliCommand::Help || cli.command == CliCommand::Version;
        // fleet-backup's INVENTORY and STORE (kept in host and file) are paths of any length.
        const bool fleet = cli.command == CliCommand::FleetBackup;
        FUZZ_CHECK(named || cli.user.size() <= 79);
        FUZZ_CHECK(named || fleet || (cli.host.size() <= 127 && cli.file.size() <= 259));
        FUZZ_CHECK(cli.safetyBackup.size() <= 259);
        FUZZ_CHECK(cli.command != CliCommand::Probe || cli.file.empty());
        FUZZ_CHECK(cli.httpPort != 0 && cli.tftpPort != 0);
        FUZZ_CHECK(cli.probeTimeoutSeconds >= 0 && cli.probeTimeoutSeconds <= 86400);
        FUZZ_CHECK(cli.commandTimeoutSeconds >= 0 && cli.commandTimeoutSeconds <= 86400);
        FUZZ_CHECK(named || !cli.factoryReset || cli.command == CliCommand::Restore);
        FUZZ_CHECK(!(cli.quiet && cli.verbose));
        FUZZ_CHECK(cli.parallel >= 1 && cli.parallel <= 256);
        FUZZ_CHECK(named || cli.passwordFile.empty() || !cli.askPassword);
    } else {
        FUZZ_CHECK(!error.empty());
    }

    SimCommandLine sim;
    error.clear();
    if (!ParseSimCommandLine(args, &sim, &error)) FUZZ_CHECK(!error.empty());
    return 0;
}
