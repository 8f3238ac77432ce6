// The texts of the error panel, one per ErrorEvent, composed without any toolkit.
//
// Contract: callable from any thread; pure. host and userName are those of the last command.
#pragma once

#include <cstddef>
#include <string>

// The panel text for code 1 to 11; an empty string for any other code (the panel stays as it is).
std::string ComposePanelText(int code, const char* host, const char* userName);
