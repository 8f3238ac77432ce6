// platform/process.h for POSIX: fork, exec on the PATH, and the output read through a pipe.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/test_hooks.h"

namespace plat {

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
    if (argv.empty() || ShouldFail(Op::RunProgram)) return kProgramNotStarted;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return kProgramNotStarted;
    // A start that fails inside the child is told through a second pipe, closed by exec.
    int startPipe[2];
    if (::pipe2(startPipe, O_CLOEXEC) != 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return kProgramNotStarted;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        // The interrupt watcher blocks SIGINT and SIGTERM in every thread; the program starts
        // with none blocked.
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(pipeEnds[1], STDERR_FILENO);
        const int nullInput = ::open("/dev/null", O_RDONLY);
        if (nullInput >= 0) ::dup2(nullInput, STDIN_FILENO);
        ::execvp(args[0], args.data());
        const char failed = 1;
        [[maybe_unused]] const ssize_t told = ::write(startPipe[1], &failed, 1);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    ::close(startPipe[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(startPipe[0]);
        return kProgramNotStarted;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n > 0) {
            if (output) output->append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(pipeEnds[0]);
    char failed = 0;
    const bool notStarted = ::read(startPipe[0], &failed, 1) == 1;
    ::close(startPipe[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (notStarted) return kProgramNotStarted;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool TakeEnvironmentVariable(const char* name, std::string* value) {
    const char* set = std::getenv(name);
    if (set == nullptr) return false;
    *value = set;
    ::unsetenv(name);
    return true;
}

}  // namespace plat
