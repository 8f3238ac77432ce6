#include "ui/main_dialog.h"

#include <cstdint>

#include "app/commands.h"
#include "app/dialog_ids.h"
#include "platform/dialog_toolkit.h"
#include "platform/log.h"
#include "spine/events.h"
#include "ui/dialog_faces.h"
#include "ui/help.h"
#include "ui/resource_ids.h"

std::atomic<HWND> MainDialogHandle{nullptr};
const COLORREF PanelTextColour = RGB(192, 0, 0);

namespace {

// One less than the record's fields, so what the operator sees is all that a command reads.
constexpr int kHostLimit = sizeof(ConnectionSettingsRecord::Host) - 1;
constexpr int kUserNameLimit = sizeof(ConnectionSettingsRecord::UserName) - 1;
constexpr int kPasswordLimit = sizeof(ConnectionSettingsRecord::Password) - 1;

constexpr const char* kAboutCaption = "About Drennick Morvane ...";
constexpr const char* kAboutText =
    "Drennick Config File Backup/Restore Utility\n\n\t   Version 1.1\n\n"
    "Backs up and restores the configuration of Tavio device servers.";

ConnectionSettingsRecord* Settings(HWND dialog) {
    return reinterpret_cast<ConnectionSettingsRecord*>(::GetWindowLongPtrA(dialog, DWLP_USER));
}

void SetIcon(HWND dialog, int sizeX, int sizeY, WPARAM which, const char* failure) {
    const HANDLE icon = ::LoadImageA(
        static_cast<HINSTANCE>(ModuleInstance), MAKEINTRESOURCEA(IDI_MORVANE), IMAGE_ICON,
        ::GetSystemMetrics(sizeX), ::GetSystemMetrics(sizeY), LR_DEFAULTCOLOR);
    if (icon == nullptr) {
        plat::LogText(failure);
        return;
    }
    ::SendMessageA(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void InitField(HWND dialog, int id, int limit, const char* text) {
    ::SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
    ::SetDlgItemTextA(dialog, id, text);
}

INT_PTR HandleCommand(HWND dialog, int id) {
    switch (id) {
        case IDOK:
            ::EndDialog(dialog, 1);
            return 1;
        case IDCANCEL:
        case IDCLOSE:
            ::EndDialog(dialog, 0);
            return 1;
        case IDHELP:
            OpenHelp(dialog);
            return 1;
        case IDC_RESTORE:
            DoRestore(dialog, 0, Settings(dialog));
            KeepFocusVisible(dialog);
            return 1;
        case IDC_BACKUP:
            DoBackup(dialog, 0, Settings(dialog));
            KeepFocusVisible(dialog);
            return 1;
        case IDC_BACK:
            ShowForm(dialog);
            return 1;
        default:
            return 0;
    }
}

INT_PTR PaintPanelStatic(HWND control, HDC dc) {
    const int id = ::GetDlgCtrlID(control);
    if (id != IDC_PANEL_TEXT && id != IDC_PANEL_HEADING) return 0;
    ::SetTextColor(dc, PanelTextColour);
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            MainDialogHandle = dialog;
            return InitMainDialog(dialog, reinterpret_cast<HWND>(wParam),
                                  reinterpret_cast<ConnectionSettingsRecord*>(lParam)) != 0;
        case WM_COMMAND:
            return HandleCommand(dialog, LOWORD(wParam));
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(dialog, &paint);
            ::EndPaint(dialog, &paint);
            return 0;
        }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUT)
                plat::Toolkit().ShowMessageBox(dialog, kAboutText, kAboutCaption, plat::kMbOk, 0);
            return 0;
        case WM_CTLCOLORSTATIC:
            return PaintPanelStatic(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
        case kReportErrorMessage:
            ShowErrorPanel(dialog, static_cast<int>(wParam));
            return 1;
        default:
            return 0;
    }
}

int InitMainDialog(HWND dialog, HWND, ConnectionSettingsRecord* settings) {
    SetIcon(dialog, SM_CXICON, SM_CYICON, ICON_BIG, "Error: Could not set Large Icon");
    SetIcon(dialog, SM_CXSMICON, SM_CYSMICON, ICON_SMALL, "Error: Could not set Small Icon.");
    ::SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(settings));
    InitField(dialog, IDC_HOST, kHostLimit, settings->Host);
    InitField(dialog, IDC_USERNAME, kUserNameLimit, settings->UserName);
    InitField(dialog, IDC_PASSWORD, kPasswordLimit, settings->Password);
    CentreWindow(dialog);
    if (const HMENU menu = ::GetSystemMenu(dialog, FALSE)) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(menu, MF_STRING, IDM_ABOUT, "About...");
    }
    return 1;
}

void CentreWindow(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const HDC dc = ::GetDC(window);
    const int screenWidth = ::GetDeviceCaps(dc, HORZRES);
    const int screenHeight = ::GetDeviceCaps(dc, VERTRES);
    ::ReleaseDC(window, dc);
    ::SetWindowPos(window, nullptr, screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER);
}

bool ReportError(int code, const void*) {
    // Codes outside the panel's table change nothing; the rest go to the dialog's thread.
    const HWND dialog = MainDialogHandle.load();
    if (code >= 1 && code <= ERR_FOREIGN_TFTP_REQUEST && dialog != nullptr)
        ::PostMessageA(dialog, kReportErrorMessage, static_cast<WPARAM>(code), 0);
    return true;
}

bool ReportStatus(int, const void*) {
    return true;
}
