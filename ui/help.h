// The program's help: an HTML file shipped beside the executable.
//
// Contract: dialog's thread. The viewer can be replaced (tests record the call instead of
// starting a browser); it returns true when the file was opened.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const char* kHelpFileName = "morvane.html";

// The help file beside the running executable.
std::string HelpFilePath();

using HelpViewer = bool (*)(HWND owner, const char* path);
void SetHelpViewer(HelpViewer viewer);  // nullptr: the system's viewer for HTML files

// Opens the help at its contents; tells the operator when it cannot be opened.
void OpenHelp(HWND owner);
