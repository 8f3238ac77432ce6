// platform/process.h for Windows: CreateProcess with the output read through a pipe.
#include "platform/process.h"

#include <windows.h>

#include <cstdlib>
#include <thread>

#include "platform/test_hooks.h"

namespace plat {

namespace {

// One argument quoted the way the C runtime splits a command line again.
void AppendQuoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output,
               std::uint64_t timeoutMs) {
    if (argv.empty() || ShouldFail(Op::RunProgram)) return kProgramNotStarted;
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += ' ';
        AppendQuoted(line, arg);
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return kProgramNotStarted;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process{};
    // A job holds the program and every program it starts, so that the limit ends them all.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        if (job) CloseHandle(job);
        return kProgramNotStarted;
    }
    if (job) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    // The output is read on a thread of its own, so that the wait below can be bounded.
    std::string got;
    std::thread reader([readEnd, &got] {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) got.append(buffer, n);
    });
    const DWORD wait = timeoutMs == 0 ? INFINITE
                       : timeoutMs >= INFINITE - 1 ? INFINITE - 1
                                                   : static_cast<DWORD>(timeoutMs);
    const bool timedOut = WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT;
    if (timedOut) {
        if (job) TerminateJobObject(job, 1);
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    reader.join();  // to the end of the output: every writer of the pipe has closed it
    CloseHandle(readEnd);
    if (output) output->append(got);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job) CloseHandle(job);
    return timedOut ? kProgramTimedOut : static_cast<int>(code);
}

bool TakeEnvironmentVariable(const char* name, std::string* value) {
    const char* set = std::getenv(name);
    if (set == nullptr) return false;
    *value = set;
    // Empty removes it from the runtime's copy and from the environment children inherit.
    ::_putenv_s(name, "");
    ::SetEnvironmentVariableA(name, nullptr);
    return true;
}

}  // namespace plat
