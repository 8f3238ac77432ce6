// The main dialog as the operator meets it: its template, its two faces, the reports that switch
// between them, the keys, the window menu and the help.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_ids.h"
#include "app/panel_texts.h"
#include "dialog_harness.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "ui/help.h"
#include "ui/main_dialog.h"
#include "ui/morvane_start.h"
#include "ui/resource_ids.h"

using namespace win32_testing;

namespace {

ConnectionSettingsRecord MakeSettings(const char* host, const char* user, const char* password) {
    ConnectionSettingsRecord s{};
    std::strncpy(s.Host, host, sizeof s.Host - 1);
    std::strncpy(s.UserName, user, sizeof s.UserName - 1);
    std::strncpy(s.Password, password, sizeof s.Password - 1);
    return s;
}

constexpr int kFormIds[] = {IDC_HOST_LABEL,     IDC_HOST,     IDC_USERNAME_LABEL, IDC_USERNAME,
                            IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_BACKUP,         IDC_RESTORE};
constexpr int kNeverShownIds[] = {IDC_FILENAME, IDC_BROWSE};

// The controls without an id that must stay hidden: the "Configuration File:" label.
HWND ConfigurationFileLabel(HWND dialog) {
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        char text[64] = {};
        ::GetWindowTextA(c, text, sizeof text);
        if (std::strcmp(text, "Configuration File:") == 0) return c;
    }
    return nullptr;
}

void ExpectNeverShownControlsHidden(HWND dialog) {
    for (int id : kNeverShownIds) EXPECT_FALSE(IsShown(dialog, id)) << id;
    const HWND label = ConfigurationFileLabel(dialog);
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(::GetWindowLongA(label, GWL_STYLE) & WS_VISIBLE);
}

void ExpectForm(HWND dialog) {
    for (int id : kFormIds) EXPECT_TRUE(IsShown(dialog, id)) << id;
    EXPECT_TRUE(IsShown(dialog, IDHELP));
    EXPECT_TRUE(IsEnabled(dialog, IDHELP));
    EXPECT_TRUE(IsShown(dialog, IDCANCEL));
    EXPECT_FALSE(IsShown(dialog, IDC_PANEL_TEXT));
    EXPECT_FALSE(IsShown(dialog, IDC_PANEL_HEADING));
    EXPECT_FALSE(IsShown(dialog, IDC_BACK));
    ExpectNeverShownControlsHidden(dialog);
}

void ExpectPanel(HWND dialog, int code, const ConnectionSettingsRecord& settings) {
    for (int id : kFormIds) EXPECT_FALSE(IsShown(dialog, id)) << id;
    EXPECT_TRUE(IsShown(dialog, IDC_PANEL_TEXT));
    EXPECT_FALSE(IsShown(dialog, IDC_PANEL_HEADING));
    EXPECT_TRUE(IsShown(dialog, IDC_BACK));
    EXPECT_TRUE(IsEnabled(dialog, IDC_BACK));
    EXPECT_TRUE(IsShown(dialog, IDHELP));
    EXPECT_TRUE(IsEnabled(dialog, IDHELP));
    EXPECT_EQ(IsShown(dialog, IDCANCEL), code != ERR_SOCKETS_SETUP) << code;
    EXPECT_TRUE(IsEnabled(dialog, IDCANCEL));
    EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT),
              ComposePanelText(code, settings.Host, settings.UserName));
    ExpectNeverShownControlsHidden(dialog);
}

// One row of the dialog template, in template (and tab) order.
struct TemplateRow {
    int id;
    const char* className;
    const char* text;
    DWORD styleBits;  // must all be set
    bool visible;
};

constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
const TemplateRow kTemplate[] = {
    {IDC_HOST_LABEL, "Static", "IP Address or DNS Entry:", WS_GROUP, true},
    {IDC_HOST, "Edit", "", kEdit, true},
    {IDC_USERNAME_LABEL, "Static", "Username:", WS_GROUP, true},
    {IDC_USERNAME, "Edit", "", kEdit, true},
    {IDC_PASSWORD_LABEL, "Static", "Password:", WS_GROUP, true},
    {IDC_PASSWORD, "Edit", "", kEdit | ES_PASSWORD, true},
    {-1, "Static", "Configuration File:", WS_GROUP, false},
    {IDC_FILENAME, "Edit", "", kEdit, false},
    {IDC_BACKUP, "Button", "&Backup", WS_TABSTOP | BS_DEFPUSHBUTTON, true},
    {IDC_RESTORE, "Button", "&Restore", WS_TABSTOP, true},
    {IDC_BROWSE, "Button", "Browse...", WS_TABSTOP, false},
    {IDHELP, "Button", "&Help", WS_TABSTOP, true},
    {IDCANCEL, "Button", "&Close", WS_TABSTOP, true},
    {-1, "Static", nullptr, SS_BITMAP, true},
    {-1, "Static", "", SS_ETCHEDFRAME | SS_SUNKEN, true},
    {IDC_PANEL_TEXT, "Static", "Error:", WS_GROUP, false},
    {IDC_PANEL_HEADING, "Static", "WARNING", WS_GROUP, false},
    {IDC_BACK, "Button", "<< Back", WS_TABSTOP, false},
};

// A control's rectangle in the dialog's client coordinates.
RECT PlaceOf(HWND dialog, int id) {
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Resource bytes of this module.
std::string ResourceBytes(LPCSTR type, int id) {
    const HMODULE module = ::GetModuleHandleA(nullptr);
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return {};
    const HGLOBAL loaded = ::LoadResource(module, found);
    return std::string(static_cast<const char*>(::LockResource(loaded)),
                       ::SizeofResource(module, found));
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

}  // namespace

class MainDialog : public ::testing::Test {
  protected:
    void SetUp() override { answers = &ResetDialogScript(); }
    void TearDown() override {
        plat::ClearInjectedFailures();
        SetHelpViewer(nullptr);
    }
    testing_support::ScriptedDialog* answers = nullptr;
    ConnectionSettingsRecord settings = MakeSettings("10.20.30.40", "root", "tundra");
};

TEST_F(MainDialog, TemplateHasEveryControlInPlaceAndTabOrder) {
    RunMainDialog(&settings, [](HWND dialog) {
        char title[128] = {};
        ::GetWindowTextA(dialog, title, sizeof title);
        EXPECT_STREQ(title, "Morvane - Tavio Config Backup/Restore Utility");
        const DWORD style = static_cast<DWORD>(::GetWindowLongA(dialog, GWL_STYLE));
        for (DWORD bit :
             {DWORD(WS_POPUP), DWORD(WS_CAPTION), DWORD(WS_SYSMENU), DWORD(DS_MODALFRAME)})
            EXPECT_EQ(style & bit, bit);
        EXPECT_EQ(LOWORD(::SendMessageA(dialog, DM_GETDEFID, 0, 0)), IDC_BACKUP);

        std::vector<HWND> children;
        for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
            children.push_back(c);
        ASSERT_EQ(children.size(), std::size(kTemplate));
        for (std::size_t i = 0; i < children.size(); ++i) {
            const TemplateRow& row = kTemplate[i];
            const HWND c = children[i];
            SCOPED_TRACE(row.text ? row.text : "banner");
            EXPECT_EQ(::GetDlgCtrlID(c), row.id == -1 ? 0xFFFF : row.id);
            char className[32] = {};
            ::GetClassNameA(c, className, sizeof className);
            EXPECT_STRCASEEQ(className, row.className);
            if (row.text && row.id != IDC_HOST && row.id != IDC_USERNAME &&
                row.id != IDC_PASSWORD) {
                char text[64] = {};
                ::GetWindowTextA(c, text, sizeof text);
                EXPECT_STREQ(text, row.text);
            }
            DWORD s = static_cast<DWORD>(::GetWindowLongA(c, GWL_STYLE));
            // An edit control trades its plain border for the sunken client edge.
            if (::GetWindowLongA(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) s |= WS_BORDER;
            if (row.styleBits == SS_BITMAP || (row.styleBits & SS_ETCHEDFRAME))
                EXPECT_EQ(s & SS_TYPEMASK, row.styleBits & SS_TYPEMASK);
            else
                EXPECT_EQ(s & row.styleBits, row.styleBits);
            EXPECT_EQ((s & WS_VISIBLE) != 0, row.visible);
        }

        // The panel takes the place of the form: its text covers the three fields, and
        // "<< Back" stands where Restore stood.
        const RECT panel = PlaceOf(dialog, IDC_PANEL_TEXT);
        for (int id : {IDC_HOST, IDC_USERNAME, IDC_PASSWORD}) {
            RECT field = PlaceOf(dialog, id), both{};
            ::UnionRect(&both, &panel, &field);
            EXPECT_TRUE(::EqualRect(&both, &panel)) << id;
        }
        const RECT back = PlaceOf(dialog, IDC_BACK), restore = PlaceOf(dialog, IDC_RESTORE);
        EXPECT_EQ(back.top, restore.top);
        EXPECT_EQ(back.bottom - back.top, restore.bottom - restore.top);
        EXPECT_LE(std::abs(back.left - restore.left), 2);

        // Tab order over the visible controls, wrapping round.
        const int order[] = {IDC_HOST,    IDC_USERNAME, IDC_PASSWORD, IDC_BACKUP,
                             IDC_RESTORE, IDHELP,       IDCANCEL,     IDC_HOST};
        HWND at = ::GetDlgItem(dialog, IDC_HOST);
        for (std::size_t i = 1; i < std::size(order); ++i) {
            at = ::GetNextDlgTabItem(dialog, at, FALSE);
            EXPECT_EQ(::GetDlgCtrlID(at), order[i]) << "after " << order[i - 1];
        }
    });
}

TEST_F(MainDialog, ResourcesHoldTheBannerAndThreeIconImages) {
    const std::string banner = ResourceBytes(MAKEINTRESOURCEA(2) /* RT_BITMAP */, IDB_BANNER);
    ASSERT_GE(banner.size(), 40u);
    EXPECT_EQ(Le(banner, 4, 4), 300u);
    EXPECT_EQ(Le(banner, 8, 4), 90u);
    EXPECT_EQ(Le(banner, 14, 2), 24u);
    EXPECT_EQ(Le(banner, 16, 4), 0u);  // uncompressed

    const std::string group = ResourceBytes(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, IDI_MORVANE);
    ASSERT_GE(group.size(), 6u);
    ASSERT_EQ(Le(group, 4, 2), 3u);
    struct Image {
        unsigned size, bits;
    };
    const Image expected[] = {{32, 4}, {16, 4}, {48, 8}};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t entry = 6 + 14 * i;
        EXPECT_EQ(Le(group, entry, 1), expected[i].size);
        EXPECT_EQ(Le(group, entry + 1, 1), expected[i].size);
        EXPECT_EQ(Le(group, entry + 6, 2), expected[i].bits);
    }
}

TEST_F(MainDialog, StartsAsTheFormWithTheSettingsCentredAndFocusInHost) {
    RunMainDialog(&settings, [](HWND dialog) {
        ExpectForm(dialog);
        EXPECT_EQ(ControlText(dialog, IDC_HOST), "10.20.30.40");
        EXPECT_EQ(ControlText(dialog, IDC_USERNAME), "root");
        EXPECT_EQ(ControlText(dialog, IDC_PASSWORD), "tundra");
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_HOST));
        EXPECT_NE(::SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(::SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0);

        RECT rect{};
        ::GetWindowRect(dialog, &rect);
        const HDC dc = ::GetDC(dialog);
        const int width = ::GetDeviceCaps(dc, HORZRES), height = ::GetDeviceCaps(dc, VERTRES);
        ::ReleaseDC(dialog, dc);
        EXPECT_EQ(rect.left, width / 2 - (rect.right - rect.left) / 2);
        EXPECT_EQ(rect.top, height / 2 - (rect.bottom - rect.top) / 2);
    });
}

TEST_F(MainDialog, FieldsRefuseTheCharacterBeyondTheirLimitAndMaskThePassword) {
    RunMainDialog(&settings, [](HWND dialog) {
        const std::pair<int, int> limits[] = {
            {IDC_HOST, 127}, {IDC_USERNAME, 79}, {IDC_PASSWORD, 79}};
        for (const auto& [id, limit] : limits) {
            const HWND edit = ::GetDlgItem(dialog, id);
            ::SetWindowTextA(edit, "");
            for (int i = 0; i < limit + 5; ++i) ::SendMessageA(edit, WM_CHAR, 'a' + i % 26, 1);
            EXPECT_EQ(ControlText(dialog, id).size(), static_cast<std::size_t>(limit)) << id;
        }
        EXPECT_NE(::SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_GETPASSWORDCHAR, 0, 0), 0);
        EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_HOST, EM_GETPASSWORDCHAR, 0, 0), 0);
    });
}

TEST_F(MainDialog, EveryErrorCodeShowsItsPanelWithHostAndUserOfTheLastCommand) {
    RunMainDialog(&settings, [this](HWND dialog) {
        // A command stores the fields it read; the panel must show those, not the start values.
        std::strcpy(settings.Host, "tavio-7.example");
        std::strcpy(settings.UserName, "admin");
        for (int code = 1; code <= 10; ++code) {
            SCOPED_TRACE(code);
            ReportError(code, nullptr);
            PumpMessages(dialog);
            ExpectPanel(dialog, code, settings);
        }
        EXPECT_NE(ControlText(dialog, IDC_PANEL_TEXT).find("( admin )"), std::string::npos);
        ReportError(ERR_CONNECT, nullptr);
        PumpMessages(dialog);
        EXPECT_NE(ControlText(dialog, IDC_PANEL_TEXT).find("Server: tavio-7.example."),
                  std::string::npos);
    });
}

TEST_F(MainDialog, CodesOutsideTheTableAndStatusReportsChangeNothing) {
    RunMainDialog(&settings, [](HWND dialog) {
        for (int code : {0, 12, -1}) EXPECT_TRUE(ReportError(code, nullptr));
        for (int code :
             {int{STATUS_COMMAND_DONE}, int{STATUS_PROGRESS}, int{STATUS_SERVER_DONE}, 99}) {
            const TransferProgress progress{512, 1000};
            EXPECT_TRUE(ReportStatus(code, &progress));
        }
        PumpMessages(dialog);
        ExpectForm(dialog);
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT), "Error:");

        ReportError(ERR_BIND, nullptr);
        PumpMessages(dialog);
        ReportError(12, nullptr);
        ReportStatus(STATUS_SERVER_DONE, nullptr);
        PumpMessages(dialog);
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT), ComposePanelText(ERR_BIND, "", ""));
    });
}

TEST_F(MainDialog, BackRestoresTheFormAndALaterPanelShowsOnlyItsOwnText) {
    RunMainDialog(&settings, [this](HWND dialog) {
        ReportError(ERR_SEND, nullptr);
        PumpMessages(dialog);
        // The keyboard is never left on a hidden control.
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_BACK))
            << ::GetDlgCtrlID(::GetFocus()) << " " << (::GetFocus() == dialog);
        Click(dialog, IDC_BACK);
        ExpectForm(dialog);
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT), " ");
        EXPECT_FALSE(IsEnabled(dialog, IDC_BACK));
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_HEADING), "WARNING");
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_HOST));

        ReportError(ERR_RESOLVE, nullptr);
        PumpMessages(dialog);
        ExpectPanel(dialog, ERR_RESOLVE, settings);
    });
}

TEST_F(MainDialog, ReportsShowInTheOrderMadeAndTheLatestStays) {
    RunMainDialog(&settings, [this](HWND dialog) {
        ReportError(ERR_CONNECT, nullptr);
        ReportError(ERR_RECEIVE, nullptr);
        ReportError(ERR_CREDENTIALS, nullptr);
        PumpMessages(dialog);
        ExpectPanel(dialog, ERR_CREDENTIALS, settings);
    });
}

TEST_F(MainDialog, AReportFromAnotherThreadNeverWaitsForTheDialogsThread) {
    RunMainDialog(&settings, [this](HWND dialog) {
        // The dialog's thread handles no messages while it waits here, as a restore does while
        // the server thread finishes.
        auto reported = std::async(std::launch::async, [] {
            ReportError(ERR_READ_REQUEST, nullptr);
            ReportStatus(STATUS_SERVER_DONE, nullptr);
        });
        ASSERT_EQ(reported.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        ExpectForm(dialog);  // applied on this thread only
        PumpMessages(dialog);
        ExpectPanel(dialog, ERR_READ_REQUEST, settings);
    });
}

TEST_F(MainDialog, EnterRunsBackupAndEscStillEndsWithZeroWhenCloseIsHidden) {
    // No sockets library: Backup's port test fails before anything is bound.
    plat::InjectFailure(plat::Op::NetStartup, 0, plat::kAlways);
    const int result = RunMainDialog(&settings, [this](HWND dialog) {
        ::SetFocus(::GetDlgItem(dialog, IDC_USERNAME));
        PressKey(dialog, VK_RETURN);
        ASSERT_EQ(answers->boxes.size(), 1u);
        EXPECT_EQ(answers->boxes[0].caption, "Morvane TFTP Warning");
        PumpMessages(dialog);
        ExpectPanel(dialog, ERR_SOCKETS_SETUP, settings);

        ::SetFocus(::GetDlgItem(dialog, IDC_BACK));
        PressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(result, 0);
}

TEST_F(MainDialog, WindowMenuCarriesAboutAndKeepsItsStandardItems) {
    const int result = RunMainDialog(&settings, [this](HWND dialog) {
        const HMENU menu = ::GetSystemMenu(dialog, FALSE);
        ASSERT_NE(menu, nullptr);
        const int count = ::GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUT));
        char text[32] = {};
        ::GetMenuStringA(menu, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, "About...");
        EXPECT_TRUE(::GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) &
                    MF_SEPARATOR);

        ::SendMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
        ASSERT_EQ(answers->boxes.size(), 1u);
        EXPECT_EQ(answers->boxes[0].caption, "About Drennick Morvane ...");
        EXPECT_EQ(answers->boxes[0].flags, 0u);
        EXPECT_EQ(answers->boxes[0].text.rfind(
                      "Drennick Config File Backup/Restore Utility\n\n\t   Version 1.1\n\n", 0),
                  0u);
        EXPECT_NE(answers->boxes[0].text.back(), '\n');

        ::SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpMessages(dialog);
        EXPECT_EQ(answers->boxes.size(), 1u);
    });
    EXPECT_EQ(result, 0);
}

TEST_F(MainDialog, PanelTextAndHeadingAreDarkRedOnNoBackground) {
    RunMainDialog(&settings, [](HWND dialog) {
        const HDC dc = ::CreateCompatibleDC(nullptr);
        for (int id : {IDC_PANEL_TEXT, IDC_PANEL_HEADING}) {
            ::SetTextColor(dc, RGB(0, 0, 0));
            ::SetBkMode(dc, OPAQUE);
            const LRESULT brush =
                ::SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
            EXPECT_EQ(brush, reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH))) << id;
            EXPECT_EQ(::GetTextColor(dc), RGB(192, 0, 0)) << id;
            EXPECT_EQ(::GetBkMode(dc), TRANSPARENT) << id;
        }
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_HOST_LABEL)));
        EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 0));
        ::DeleteDC(dc);
    });
}

namespace {
std::string helpOpened;
bool RecordHelp(HWND, const char* path) {
    helpOpened = path;
    return true;
}
bool FailHelp(HWND, const char*) {
    return false;
}
}  // namespace

TEST_F(MainDialog, HelpOpensTheHtmlFileBesideTheExecutable) {
    helpOpened.clear();
    SetHelpViewer(RecordHelp);
    RunMainDialog(&settings, [this](HWND dialog) {
        Click(dialog, IDHELP);
        EXPECT_TRUE(answers->boxes.empty());
        SetHelpViewer(FailHelp);
        Click(dialog, IDHELP);
        ASSERT_EQ(answers->boxes.size(), 1u);
        EXPECT_EQ(answers->boxes[0].caption, "Morvane Help");
    });
    ASSERT_GT(helpOpened.size(), std::strlen(kHelpFileName));
    EXPECT_EQ(helpOpened.substr(helpOpened.size() - std::strlen(kHelpFileName) - 1),
              std::string("\\") + kHelpFileName);
    EXPECT_TRUE(plat::FileExists(helpOpened.c_str())) << helpOpened;
}

TEST_F(MainDialog, StartUpPutsTheSOptionHostAndDefaultCredentialsIntoTheFields) {
    const int result = RunWithScript(
        [] { return RunMorvane(::GetModuleHandleA(nullptr), "morvane.exe -s 192.168.1.5 -x"); },
        [](HWND dialog) {
            EXPECT_EQ(ControlText(dialog, IDC_HOST), "192.168.1.5");
            EXPECT_EQ(ControlText(dialog, IDC_USERNAME), "root");
            EXPECT_EQ(ControlText(dialog, IDC_PASSWORD), "tundra");
            Click(dialog, IDCANCEL);
        });
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(GetHost(), "192.168.1.5");
}
