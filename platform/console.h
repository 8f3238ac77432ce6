// The terminal, for the command-line front end.
#pragma once

#include <string>

namespace plat {

// True when standard error is a terminal (progress bars are drawn only there).
bool StderrIsTerminal();
// Prints prompt on standard error and reads one line from the terminal without echo.
// False when there is no terminal to ask or the input ended.
bool ReadSecretLine(const char* prompt, std::string* line);

}  // namespace plat
