// Start-up pieces shared by every front end.
//
// Contract: called once on the main thread, before any window or second thread exists.
#pragma once

#include <string>

// The host word of the "-s" option of a whole command line: the first occurrence of "-s"
// anywhere (case-sensitive, inside a word too), then spaces, then one word up to white space.
// Empty when there is no option or nothing follows it.
std::string FindHostOption(const char* commandLine);

// Puts the host word (ignored with a diagnostic line when longer than 127 characters) and the
// default credentials "root" / "tundra" into ConnectionSettings.
void ApplyStartupSettings(const char* commandLine);
