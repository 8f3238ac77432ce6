// platform/process.h for POSIX: fork, exec on the PATH, and the output read through a pipe.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/test_hooks.h"

namespace plat {

namespace {

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Waits until `fd` can be read or the deadline (0: none) has passed; false at the deadline.
bool AwaitReadable(int fd, std::uint64_t deadlineMs) {
    for (;;) {
        int wait = -1;
        if (deadlineMs != 0) {
            const std::uint64_t now = NowMs();
            if (now >= deadlineMs) return false;
            wait = static_cast<int>(std::min<std::uint64_t>(deadlineMs - now, 60'000));
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, wait);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // the read reports it
    }
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output,
               std::uint64_t timeoutMs) {
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
        // A session of its own: no terminal to prompt on, and one group to end at the limit.
        ::setsid();
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
    const std::uint64_t deadlineMs = timeoutMs == 0 ? 0 : NowMs() + timeoutMs;
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        if (!AwaitReadable(pipeEnds[0], deadlineMs)) {
            // Every program of its session goes; what it wrote so far is kept.
            timedOut = true;
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            break;
        }
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
    if (timedOut) return kProgramTimedOut;
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
