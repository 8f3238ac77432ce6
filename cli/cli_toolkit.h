// The command-line tool's back end of the dialog toolkit: the fields are held in memory, the file
// argument answers the file dialogs, and each question is answered by its identity in the
// commands' table of boxes: the factory question by --factory-reset, the no-file question and any
// question this tool does not know with No. Error boxes go to standard error; questions and
// success boxes (the tool prints its own result line) only when verbose.
//
// Contract: set up on the main thread before a command runs; used by the command on that thread.
#pragma once

#include <string>

#include "cli/cli_io.h"
#include "platform/dialog_toolkit.h"

struct CliToolkitSetup {
    std::string host, user, password, file;
    bool factoryReset = false;
    bool verbose = false;
    const CliIo* io = nullptr;
};

// Registers the toolkit with these answers.
void RegisterCliToolkit(const CliToolkitSetup& setup);
