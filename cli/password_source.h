// Where morvane-cli takes the password from: never from its own command line.
#pragma once

#include <string>

#include "cli/cli_options.h"

// --password-file (its first line), else --ask-password (a prompt without echo), else the
// environment variable MORVANE_PASSWORD, else the device's default "tundra".
// False with a reason when the chosen source cannot be read. MORVANE_PASSWORD is read from the
// environment, or, once TakePasswordFromEnvironment has taken it out, from what that kept.
bool ResolvePassword(const CliOptions& options, std::string* password, std::string* error);

// The first line of a password file (a fleet inventory's password_file). False with a reason
// when it cannot be read or the password is too long.
bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error);

// Takes MORVANE_PASSWORD out of the process's environment and keeps its value for
// ResolvePassword, so that no program this process starts inherits it. Main thread, before any
// thread exists.
void TakePasswordFromEnvironment();
