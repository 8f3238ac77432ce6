// Drives the real main dialog under test: the dialog runs modally from the resources linked into
// the test binary, a script runs inside its modal loop, and the modal calls of the commands
// (message boxes, beeps, file dialogs) are answered by the test while field reads, field writes
// and focus changes hit the real controls.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "spine/shared_state.h"
#include "tests/support/scripted_dialog.h"

namespace win32_testing {

// Fresh answers for a test; the modal calls are recorded in it. Also registers the transfer hooks
// (the real file hooks and the dialog's reporting bodies) and the module's resources.
testing_support::ScriptedDialog& ResetDialogScript();

// Runs `runModal` (which opens a modal dialog on this thread) and, once that dialog's loop runs,
// `script` with the dialog window. When the script returns and the dialog is still open, it is
// ended with IDOK (end value 1). Returns runModal's result.
int RunWithScript(const std::function<int()>& runModal, const std::function<void(HWND)>& script);
// The main dialog from template 101 with `settings` as its creation parameter.
int RunMainDialog(ConnectionSettingsRecord* settings, const std::function<void(HWND)>& script);

// Handles every queued message as the dialog's own loop would (keyboard navigation included).
void PumpMessages(HWND dialog);
// Posts a key press to the control with the focus and handles it.
void PressKey(HWND dialog, UINT key);
void Click(HWND dialog, int id);

std::string ControlText(HWND dialog, int id);
bool IsShown(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);

}  // namespace win32_testing
