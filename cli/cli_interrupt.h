// What morvane-cli does on SIGINT or SIGTERM: the command's temporary files are removed, every
// good file stays, "interrupted" is printed and the process ends with 128 + the signal's number
// (130, 143). A command with more to settle first (a fleet run: the summary of what finished and
// the commit of what was stored) puts its own action in place of that default.
//
// Contract: main.cpp calls WatchCliInterrupts once before any thread exists, and
// CloseCliInterrupts once the command has returned (an interruption from then on is not acted
// upon: the command is over and the process is ending). Commands set and reset their action on
// the main thread; an action runs on the watcher's thread, with the program's other threads
// still going, and ends with EndInterrupted. Setting an action waits for a running one, which
// never returns, so whatever an action uses stays alive while it runs.
#pragma once

#include "cli/cli_io.h"

using CliInterruptAction = void (*)(int signal, void* context);

// False when no watcher could be set up.
bool WatchCliInterrupts(const CliIo& io);
void CloseCliInterrupts();

// nullptr: the default action.
void SetCliInterruptAction(CliInterruptAction action, void* context);

inline int InterruptedExitCode(int signal) { return 128 + signal; }
// Prints the "interrupted" line on standard error and ends the process with
// InterruptedExitCode(signal).
[[noreturn]] void EndInterrupted(int signal);
