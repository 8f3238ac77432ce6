// The system's words for a Windows error code (GetLastError or WSAGetLastError), for the cause
// lines the tools print: FormatMessage's text without its trailing full stop and line end. Where
// the system has no text for a socket error (Wine's message table lacks most of them), the words
// of a small table of the common ones; otherwise "error N". Any thread; the text is a copy.
#pragma once

#include <string>

namespace plat {

std::string SystemErrorText(unsigned long code);

}  // namespace plat
