// Where morvane-cli takes the password from: never from its own command line.
#pragma once

#include <string>

#include "cli/cli_options.h"

// --password-file (its first line), else --ask-password (a prompt without echo), else the
// environment variable MORVANE_PASSWORD, else the device's default "tundra".
// False with a reason when the chosen source cannot be read (a password file as
// ReadPasswordFile). MORVANE_PASSWORD is read from the environment, or, once
// TakePasswordFromEnvironment has taken it out, from what that kept.
bool ResolvePassword(const CliOptions& options, std::string* password, std::string* error);

// The first line of a password file (also a fleet inventory's password_file), read no further
// than the field's 79 characters and a line end. False with a reason naming the file when it
// cannot be read, is not a regular file (a directory, FIFO or device is refused before it is
// opened), or its first line is empty or longer than 79 characters.
bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error);

// The warning line for a password file that its group or other users can read (its mode named),
// else empty. On Windows files carry no such modes: always empty.
std::string PasswordFileWarning(const std::string& path);

// Takes MORVANE_PASSWORD out of the process's environment and keeps its value for
// ResolvePassword, so that no program this process starts inherits it. Main thread, before any
// thread exists.
void TakePasswordFromEnvironment();
