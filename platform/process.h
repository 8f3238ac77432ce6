// Running another program to its end (the fleet backup's history uses the git program).
//
// Contract: callable from any thread; blocks until the program has ended. No call throws.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The program's exit code (0..255), or kProgramNotStarted when it could not be started (not
// found, not executable). The program's standard output and error, together, go into *output
// when output is not null. argv[0] is looked up on the PATH.
inline constexpr int kProgramNotStarted = -1;
int RunProgram(const std::vector<std::string>& argv, std::string* output);

// Takes a variable out of this process's environment, so that no program it starts inherits
// it: its value goes into *value (true), or false when it is not set. Call it before any
// thread exists (the environment is not guarded against concurrent use).
bool TakeEnvironmentVariable(const char* name, std::string* value);

}  // namespace plat
