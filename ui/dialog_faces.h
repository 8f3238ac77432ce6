// The two faces of the main dialog: the form and the error panel.
//
// Contract: dialog's thread only.
#pragma once

#include <windows.h>

// Switches to the error panel with the text of `code` (1 to 10); any other code changes nothing.
// Host and user name come from the ConnectionSettings record held as the dialog's user data.
void ShowErrorPanel(HWND dialog, int code);
// Brings the form back ("<< Back").
void ShowForm(HWND dialog);
// After a command: a keyboard focus left on a hidden control (a command puts it on a field that
// the error panel has hidden) goes to "<< Back" while the panel shows, else to the Host field.
void KeepFocusVisible(HWND dialog);
