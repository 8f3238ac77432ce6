// The dialog toolkit seam: everything the Backup and Restore commands do to the window.
//
// Contract: the front end registers one toolkit before the first command runs and never changes
// it while a command runs. The commands call it on their own thread (the dialog's thread). Three
// back ends exist: the real Win32 dialog, the command-line tool's, and a scripted test double.
// The window is opaque here; the back end gives it meaning.
#pragma once

#include <cstddef>

namespace plat {

using WindowRef = void*;

// Message-box flags and answers, with their Win32 values.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kBeepInformation = 0x40;  // MB_ICONASTERISK
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Open/Save dialog flags, with their Win32 values.
inline constexpr unsigned kOfnOverwritePrompt = 0x2;
inline constexpr unsigned kOfnHideReadOnly = 0x4;
inline constexpr unsigned kOfnPathMustExist = 0x800;
inline constexpr unsigned kOfnFileMustExist = 0x1000;

struct FileDialogSettings {
    bool save;                  // Save dialog when true, Open dialog otherwise
    const char* filter;         // pairs of zero-terminated texts, closed by an extra zero
    int filterIndex;            // 1 = first pair
    const char* title;
    const char* defaultExtension;
    unsigned flags;
};

struct DialogToolkit {
    // Reads at most maxCount - 1 characters of control `id` into text (zero-terminated);
    // returns the number of characters read.
    int (*GetFieldText)(WindowRef window, int id, char* text, int maxCount);
    bool (*SetFieldText)(WindowRef window, int id, const char* text);
    void (*FocusControl)(WindowRef window, int id);
    // `identity` names the box in the caller's table of boxes (0: none). A back end that answers
    // without an operator answers a question by its identity, not by its buttons.
    int (*ShowMessageBox)(WindowRef owner, const char* text, const char* caption, unsigned flags,
                          int identity);
    void (*SoundBeep)(unsigned type);
    // Runs the Open or Save dialog; on success the chosen full path is in path (capacity bytes).
    bool (*RunFileDialog)(WindowRef owner, const FileDialogSettings& settings, char* path,
                          std::size_t capacity);
};

void RegisterDialogToolkit(const DialogToolkit& toolkit);
// The registered toolkit; a silent one (empty fields, every box answered Cancel) before any.
const DialogToolkit& Toolkit();

}  // namespace plat
