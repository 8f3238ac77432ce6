// Interruptions of the command-line program: SIGINT and SIGTERM (on Windows the console's Ctrl+C,
// Ctrl+Break and close events), handed to the front end on a thread of the watcher's own rather
// than in a signal context, so that its handler may take locks, remove files and run programs.
//
// Contract: WatchInterrupts is called once, on the main thread, before any other thread exists
// (POSIX: it blocks both signals in the calling thread, every thread started later inherits that,
// and one thread of its own waits for them; programs started through RunProgram get them
// unblocked). The handler gets the signal's number (kInterruptSignal, kTerminateSignal; on
// Windows Ctrl+C is kInterruptSignal and the others kTerminateSignal) and runs on the watcher's
// thread while the program's other threads go on; it ends the process with EndProcessNow. An
// interruption that comes while the handler runs is not delivered.
#pragma once

namespace plat {

inline constexpr int kInterruptSignal = 2;
inline constexpr int kTerminateSignal = 15;

// False when the watcher could not be set up (the program then ends on a signal as it would
// without one).
bool WatchInterrupts(void (*handler)(int signal));

// Ends the process at once with `code`: no destructors, no exit handlers, the other threads
// stopped where they are. Whatever was written to standard output and error must be flushed.
[[noreturn]] void EndProcessNow(int code);

}  // namespace plat
