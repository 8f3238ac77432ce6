// morvane-cli: back a Tavio device's configuration up, or restore it, from a terminal or script.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/cli_run.h"
#include "cli/password_source.h"
#include "platform/console.h"

namespace {

void WriteOut(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void WriteErr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const CliIo io{WriteOut, WriteErr, plat::StderrIsTerminal()};
    // Before any thread: no program we start (git, and the hooks git runs) sees the password.
    TakePasswordFromEnvironment();
    WatchCliInterrupts(io);
    const int code = RunMorvaneCli(args, io);
    CloseCliInterrupts();
    return code;
}
