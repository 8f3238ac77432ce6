// The two probes of a command: a device whose first answer names a Tavio goes on even when the
// second names nothing; a first answer that names nothing ends the command.
#include "tests/app/command_fixture.h"

#include "tests/devicecmd/scripted_http_peer.h"

namespace testing_support {
namespace {

constexpr const char* kTavioPage = "HTTP/1.0 200 OK\r\nServer: Tavio 21\r\n\r\n<html></html>";
constexpr const char* kPlainPage = "HTTP/1.0 200 OK\r\nServer: httpd\r\n\r\n";

using ProbeSequence = CommandAgainstSimulator;

TEST_F(ProbeSequence, ASecondProbeThatRecognisesNothingDoesNotStopTheBackup) {
    PeerScript script;
    script.RepliesPerConnection = {kTavioPage, kPlainPage, "HTTP/1.0 200 OK\r\n\r\n"};
    ScriptedHttpPeer server(script);
    DeviceSettings.Port = server.Port();
    CommandSettings.TransferGraceMs = 100;
    TftpSettings.FirstRequestTimeoutMs = 300;
    RunBackup(dir + "/x.cfg");
    server.Finish();
    EXPECT_EQ(RequestLines(server.Requests()),
              (std::vector<std::string>{"GET /", "GET /",
                                        "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1"}));
    // That device never sends its text, so the backup itself fails.
    EXPECT_EQ(OnlyBox().caption, "Backup failed");
}

TEST_F(ProbeSequence, AFirstProbeThatRecognisesNothingEndsTheCommand) {
    PeerScript script;
    script.RepliesPerConnection = {kPlainPage};
    ScriptedHttpPeer server(script);
    DeviceSettings.Port = server.Port();
    RunBackup(dir + "/x.cfg");
    server.Finish();
    EXPECT_EQ(RequestLines(server.Requests()), std::vector<std::string>{"GET /"});
    EXPECT_EQ(OnlyBox().caption, "Check for Tavio Failed");
    EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_HOST});
    EXPECT_EQ(report.Result, CommandResult::NotTavio);
}

}  // namespace
}  // namespace testing_support
