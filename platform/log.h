// Diagnostic output: the program's lines on standard output, exactly as given.
//
// Contract: callable from any thread; each call writes its text whole. A program (or a test) may
// install a sink that receives every text instead of (or besides) standard output. A program
// whose standard output carries its results keeps diagnostic texts off it for good.
#pragma once

#include <string>
#include <string_view>

namespace plat {

#if defined(__MINGW32__)
__attribute__((format(gnu_printf, 1, 2)))  // the C++ runtime's printf is the ISO one here
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Log(const char* format, ...);
void LogText(std::string_view text);

// The sink gets each text as written. nullptr restores plain standard output. echo keeps
// standard output as well.
using LogSink = void (*)(std::string_view text);
void SetLogSink(LogSink sink, bool echo = false);

// From this call until the process ends no text reaches standard output, whatever sink is
// installed or removed later and whichever thread logs: without a sink a text goes nowhere, and
// echo is ignored. For a program whose standard output is its result (morvane-cli: --json, a
// backup's text); it calls this before anything of it can log. There is no way back.
void KeepLogsOffStandardOutput();

}  // namespace plat
