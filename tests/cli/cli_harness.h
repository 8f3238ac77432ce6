// Runs morvane-cli in-process with its output captured.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_io.h"

namespace testing_support {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CliRun RunCli(const std::vector<std::string>& args, bool errIsTerminal = false);

}  // namespace testing_support
