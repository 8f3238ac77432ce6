// The program's start: what WinMain does, callable from tests with any command line.
//
// Contract: called once on the main thread, before any window or second thread exists. Returns
// the dialog's end value (1 through IDOK, 0 through Close, Esc or IDCLOSE), or -1 when the dialog
// cannot be created.
#pragma once

#include <windows.h>

int RunMorvane(HINSTANCE instance, const char* commandLine);
