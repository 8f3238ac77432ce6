#include "tests/cli/cli_harness.h"

#include <mutex>

#include "cli/cli_run.h"

namespace testing_support {
namespace {

std::mutex outputLock;
CliRun* current = nullptr;

void Out(std::string_view text) {
    std::lock_guard lock(outputLock);
    current->out.append(text);
}
void Err(std::string_view text) {
    std::lock_guard lock(outputLock);
    current->err.append(text);
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args, bool errIsTerminal) {
    CliRun run;
    current = &run;
    const CliIo io{Out, Err, errIsTerminal};
    run.exitCode = RunMorvaneCli(args, io);
    current = nullptr;
    return run;
}

}  // namespace testing_support
