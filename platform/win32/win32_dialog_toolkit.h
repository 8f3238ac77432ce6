// The real dialog toolkit: the commands' window calls made on a Win32 dialog.
//
// Contract: the table's functions take the dialog's HWND as the WindowRef and are called on the
// dialog's thread. Field reads and writes, focus and beeps go to the window; message boxes and
// the Open/Save dialogs are modal and owned by the given window. Tests may copy the table and
// replace the modal entries with their own answers while the field entries stay real.
#pragma once

#include "platform/dialog_toolkit.h"

namespace plat {

const DialogToolkit& Win32DialogToolkit();

}  // namespace plat
