// Running another program to its end (the fleet backup's history uses the git program).
//
// Contract: callable from any thread; blocks until the program has ended, or until its time limit
// has passed. No call throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The program's exit code (0..255), or kProgramNotStarted when it could not be started (not
// found, not executable). The program's standard output and error, together, go into *output
// when output is not null. argv[0] is looked up on the PATH. The program runs without a terminal
// to ask on (standard input is empty, and on POSIX it is in a session of its own), so it cannot
// stop to prompt anyone.
//
// timeoutMs, when not 0, bounds the run: past it the program and every program it started are
// killed, and the result is kProgramTimedOut (*output then holds what was written so far).
inline constexpr int kProgramNotStarted = -1;
inline constexpr int kProgramTimedOut = -2;
int RunProgram(const std::vector<std::string>& argv, std::string* output,
               std::uint64_t timeoutMs = 0);

// Takes a variable out of this process's environment, so that no program it starts inherits
// it: its value goes into *value (true), or false when it is not set. Call it before any
// thread exists (the environment is not guarded against concurrent use).
bool TakeEnvironmentVariable(const char* name, std::string* value);

}  // namespace plat
