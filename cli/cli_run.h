// One run of morvane-cli, from its arguments to its exit code.
//
// Contract: main thread; registers the transfer hooks and the toolkit for this process.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_io.h"

// args without the program name.
int RunMorvaneCli(const std::vector<std::string>& args, const CliIo& io);
