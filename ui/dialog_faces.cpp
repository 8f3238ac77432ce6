#include "ui/dialog_faces.h"

#include <string>

#include "app/dialog_ids.h"
#include "app/panel_texts.h"
#include "spine/events.h"
#include "spine/shared_state.h"

namespace {

// The form's fields, their labels and the two command buttons: hidden while the panel shows.
constexpr int kFormControls[] = {IDC_HOST,     IDC_HOST_LABEL,     IDC_USERNAME, IDC_USERNAME_LABEL,
                                 IDC_PASSWORD, IDC_PASSWORD_LABEL, IDC_BACKUP,   IDC_RESTORE};

bool IsShown(HWND dialog, int id) {
    return (::GetWindowLongA(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void Show(HWND dialog, int id, bool visible) {
    ::ShowWindow(::GetDlgItem(dialog, id), visible ? SW_SHOWNORMAL : SW_HIDE);
}

void Enable(HWND dialog, int id, bool enabled) {
    ::EnableWindow(::GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

bool FocusInDialog(HWND dialog) {
    const HWND focus = ::GetFocus();
    return focus != nullptr && (focus == dialog || ::IsChild(dialog, focus));
}

void FocusOn(HWND dialog, int id) {
    ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog, id)), TRUE);
}

}  // namespace

void ShowErrorPanel(HWND dialog, int code) {
    const auto* settings =
        reinterpret_cast<const ConnectionSettingsRecord*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    if (settings == nullptr) return;
    const std::string text = ComposePanelText(code, settings->Host, settings->UserName);
    if (text.empty()) return;

    for (int id : kFormControls) Show(dialog, id, false);
    Show(dialog, IDHELP, true);
    Enable(dialog, IDHELP, true);
    Show(dialog, IDC_BACK, true);
    Enable(dialog, IDC_BACK, true);
    ::SetDlgItemTextA(dialog, IDC_PANEL_TEXT, text.c_str());
    Show(dialog, IDC_PANEL_TEXT, true);
    Show(dialog, IDC_PANEL_HEADING, false);
    // Without the sockets library nothing can work: the operator may only go back or get help.
    Show(dialog, IDCANCEL, code != ERR_SOCKETS_SETUP);
    Enable(dialog, IDCANCEL, true);
    // The keyboard goes to "<< Back" (Enter presses it), unless a message box has it now.
    if (FocusInDialog(dialog)) FocusOn(dialog, IDC_BACK);
}

void ShowForm(HWND dialog) {
    for (int id : kFormControls) Show(dialog, id, true);
    Show(dialog, IDHELP, true);
    Enable(dialog, IDHELP, true);
    Show(dialog, IDC_BACK, false);
    Enable(dialog, IDC_BACK, false);
    Show(dialog, IDCANCEL, true);
    ::SetDlgItemTextA(dialog, IDC_PANEL_TEXT, " ");
    Show(dialog, IDC_PANEL_TEXT, false);
    Show(dialog, IDC_PANEL_HEADING, false);
    if (FocusInDialog(dialog)) FocusOn(dialog, IDC_HOST);
}

void KeepFocusVisible(HWND dialog) {
    const HWND focus = ::GetFocus();
    if (!FocusInDialog(dialog)) return;
    if (focus != dialog && ::IsWindowVisible(focus)) return;
    FocusOn(dialog, IsShown(dialog, IDC_BACK) ? IDC_BACK : IDC_HOST);
}
