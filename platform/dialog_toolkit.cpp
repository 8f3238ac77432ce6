#include "platform/dialog_toolkit.h"

namespace plat {
namespace {

int SilentGetFieldText(WindowRef, int, char* text, int maxCount) {
    if (maxCount > 0) text[0] = '\0';
    return 0;
}
bool SilentSetFieldText(WindowRef, int, const char*) { return false; }
void SilentFocusControl(WindowRef, int) {}
int SilentMessageBox(WindowRef, const char*, const char*, unsigned, int) { return kIdCancel; }
void SilentBeep(unsigned) {}
bool SilentFileDialog(WindowRef, const FileDialogSettings&, char*, std::size_t) { return false; }

constexpr DialogToolkit kSilent{SilentGetFieldText, SilentSetFieldText, SilentFocusControl,
                                SilentMessageBox,   SilentBeep,         SilentFileDialog};
DialogToolkit registered = kSilent;

}  // namespace

void RegisterDialogToolkit(const DialogToolkit& toolkit) { registered = toolkit; }
const DialogToolkit& Toolkit() { return registered; }

}  // namespace plat
