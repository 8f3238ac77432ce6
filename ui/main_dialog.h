// The main dialog: the form with the three connection fields and four buttons, and the error
// panel that replaces the form when a network layer reports a failure.
//
// Contract: MainDialogProc, InitMainDialog and CentreWindow run on the dialog's thread.
// ReportError and ReportStatus are the bodies registered in TransferHooks; they may be called on
// any thread and never wait for the dialog's thread: ReportError posts the change to the dialog,
// whose thread applies it the next time it handles messages, in the order the reports were made.
#pragma once

#include <windows.h>

#include <atomic>

#include "spine/shared_state.h"

// The dialog window; set first thing in WM_INITDIALOG, never cleared. Read by the reporting
// bodies on any thread.
extern std::atomic<HWND> MainDialogHandle;
// Colour of the panel text and heading.
extern const COLORREF PanelTextColour;
// The private message that carries an error report to the dialog's thread (wParam: the code).
inline constexpr UINT kReportErrorMessage = WM_APP + 1;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// settings: the ConnectionSettings record, kept as the dialog's user data.
int InitMainDialog(HWND dialog, HWND firstFocus, ConnectionSettingsRecord* settings);
void CentreWindow(HWND window);

bool ReportError(int code, const void* detail);
bool ReportStatus(int code, const void* detail);
