// Backup and Restore pressed in the real dialog against the in-process device simulator: the
// fields are typed into the real controls, the chosen file travels through the hidden field, and
// only the modal boxes and file dialogs are answered by the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_ids.h"
#include "app/panel_texts.h"
#include "devicecmd/device_settings.h"
#include "dialog_harness.h"
#include "platform/dialog_toolkit.h"
#include "platform/fault_injection.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_settings.h"

using namespace win32_testing;

namespace {

std::vector<std::string> Captions(const testing_support::ScriptedDialog& answers) {
    std::vector<std::string> captions;
    for (const auto& box : answers.boxes) captions.push_back(box.caption);
    return captions;
}

class DialogAgainstSimulator : public ::testing::Test, public testing_support::SimulatedDeviceRun {
  protected:
    void SetUp() override {
        answers = &ResetDialogScript();
        PrepareDeviceRun();
        TftpSettings.FirstRequestTimeoutMs = 1000;  // a refused command leaves the server waiting
        options.FactoryText = "hostname lab-9\nip address 10.9.0.9\n";
        // What start-up leaves in the record; the dialog shows it and the commands overwrite it.
        std::memset(&ConnectionSettings, 0, sizeof ConnectionSettings);
        SetUserName("root");
        SetPassword("tundra");
    }

    void TearDown() override {
        FinishDeviceRun();
        plat::ClearInjectedFailures();
    }

    static void Type(HWND dialog, int id, const char* text) { ::SetDlgItemTextA(dialog, id, text); }

    testing_support::ScriptedDialog* answers = nullptr;
};

TEST_F(DialogAgainstSimulator, BackupThenRestoreTheSameFileThroughTheDialog) {
    StartDevice();
    const std::string target = dir + "\\lab9.cfg";
    RunMainDialog(&ConnectionSettings, [&](HWND dialog) {
        Type(dialog, IDC_HOST, "127.0.0.1");

        answers->fileAnswers.push_back(target);
        Click(dialog, IDC_BACKUP);
        ASSERT_EQ(Captions(*answers), std::vector<std::string>{"Backup complete"});
        EXPECT_EQ(answers->boxes[0].text,
                  "The configuration has been backed up to: \r\n\t" + target);
        ASSERT_EQ(answers->fileDialogs.size(), 1u);
        EXPECT_TRUE(answers->fileDialogs[0].save);
        // The chosen name went through the hidden field of the real dialog.
        EXPECT_EQ(ControlText(dialog, IDC_FILENAME), target);
        EXPECT_FALSE(IsShown(dialog, IDC_FILENAME));
        EXPECT_EQ(testing_support::ReadWholeFile(target),
                  "hostname lab-9\r\nip address 10.9.0.9\r\n");
        PumpMessages(dialog);
        EXPECT_TRUE(IsShown(dialog, IDC_HOST)) << "no error panel after a good backup";

        // The operator edits the saved file and puts it back, factory reset first.
        testing_support::WriteWholeFile(target, "hostname lab-9b\r\nip address 10.9.0.10\r\n");
        answers->boxes.clear();
        answers->fileAnswers.push_back(target);
        answers->boxAnswers.push_back(plat::kIdYes);
        Click(dialog, IDC_RESTORE);
        EXPECT_EQ(
            Captions(*answers),
            (std::vector<std::string>{"Initialise factory defaults first?", "Restore complete"}));
        ASSERT_EQ(answers->fileDialogs.size(), 2u);
        EXPECT_FALSE(answers->fileDialogs[1].save);
        PumpMessages(dialog);
        EXPECT_TRUE(IsShown(dialog, IDC_HOST));
    });
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{
                  "GET /", "GET /", "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1", "GET /",
                  "GET /", "GET /cli?INITIALIZE+FACTORY", "GET /cli?EXECUTE+image+HOST+127.0.0.1",
                  "GET /cli?REBOOT"}));
    EXPECT_EQ(device->Configuration(), "hostname lab-9b\nip address 10.9.0.10\n");
    EXPECT_STREQ(ConnectionSettings.Host, "127.0.0.1");
}

TEST_F(DialogAgainstSimulator, RefusedCredentialsShowThePanelWithTheTypedUserName) {
    options.Faults.RefuseCredentials = true;
    StartDevice();
    RunMainDialog(&ConnectionSettings, [&](HWND dialog) {
        Type(dialog, IDC_HOST, "127.0.0.1");
        Type(dialog, IDC_USERNAME, "operator");
        answers->fileAnswers.push_back(dir + "\\refused.cfg");
        Click(dialog, IDC_BACKUP);
        EXPECT_TRUE(answers->boxes.empty());  // only a beep: the panel tells the cause
        PumpMessages(dialog);
        EXPECT_FALSE(IsShown(dialog, IDC_HOST));
        EXPECT_TRUE(IsShown(dialog, IDCANCEL));
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT),
                  ComposePanelText(ERR_CREDENTIALS, "127.0.0.1", "operator"));

        Click(dialog, IDC_BACK);
        EXPECT_TRUE(IsShown(dialog, IDC_HOST));
        EXPECT_EQ(ControlText(dialog, IDC_USERNAME), "operator");  // the form keeps what was typed
    });
}

TEST_F(DialogAgainstSimulator, AHostThatRefusesTheConnectionShowsTheConnectPanel) {
    // A port on loopback that nobody listens on.
    DeviceSettings.Port = testing_support::PickFreeTcpPort();
    RunMainDialog(&ConnectionSettings, [&](HWND dialog) {
        Type(dialog, IDC_HOST, "127.0.0.1");
        answers->fileAnswers.push_back(dir + "\\nobody.cfg");
        Click(dialog, IDC_BACKUP);
        PumpMessages(dialog);
        EXPECT_EQ(ControlText(dialog, IDC_PANEL_TEXT),
                  ComposePanelText(ERR_CONNECT, "127.0.0.1", "root"));
        ASSERT_FALSE(answers->boxes.empty());
        EXPECT_EQ(answers->boxes.back().caption, "Check for Tavio Failed");
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_BACK))
            << ::GetDlgCtrlID(::GetFocus()) << " visible " << ::IsWindowVisible(::GetFocus());
    });
}

}  // namespace
