// The device simulator as the command channel sees it, its fault switches, and its command line.
#include <gtest/gtest.h>

#include <memory>

#include "devicecmd/cli_commands.h"
#include "devicecmd/server_probe.h"
#include "sim/device_simulator.h"
#include "sim/sim_command_line.h"
#include "spine/events.h"
#include "tests/devicecmd/channel_fixture.h"

namespace {

class Simulator : public ChannelTest {
  protected:
    void SetUp() override {
        ChannelTest::SetUp();
        dir_ = testing_support::MakeTempDir();
        options_.StatePath = dir_ + "/state.cfg";
        options_.LogPath = dir_ + "/requests.log";
        options_.FactoryText = "hostname factory\n";
        options_.Tftp.RetransmitMs = 100;
        options_.Tftp.MaxRetransmits = 2;
    }
    void TearDown() override {
        sim_.reset();
        ChannelTest::TearDown();
    }
    DeviceSimulator& StartSim() {
        sim_ = std::make_unique<DeviceSimulator>(options_);
        std::string error;
        EXPECT_TRUE(sim_->Start(&error)) << error;
        UseDevice(sim_->Endpoint().port);
        return *sim_;
    }
    void StopSimAndExpectAllReleased() {
        sim_->Stop();
        ExpectAllReleased();
    }

    std::string dir_;
    SimOptions options_;
    std::unique_ptr<DeviceSimulator> sim_;
};

}  // namespace

TEST_F(Simulator, AnswersTheProbeWithTheConfiguredServerHeader) {
    const struct {
        const char* header;
        ServerType expected;
    } cases[] = {
        {"Tavio", SERVER_TAVIO},          {"Tavio 21", SERVER_TAVIO_21},
        {"Tavio 22", SERVER_TAVIO_22},    {"Merrowin II", SERVER_UNSUPPORTED},
        {"Wendrake", SERVER_UNSUPPORTED}, {"Apache/2.4", SERVER_UNRECOGNISED},
        {"", SERVER_UNRECOGNISED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        options_.ServerHeader = c.header;
        StartSim();
        EXPECT_EQ(ProbeServerType("127.0.0.1"), c.expected);
        EXPECT_EQ(sim_->Requests(), std::vector<std::string>{"GET / HTTP/1.0"});
        StopSimAndExpectAllReleased();
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(Simulator, SplitServerHeaderIsFoundAndASilentProbeTimesOut) {
    options_.ServerHeader = "Tavio 22";
    options_.Faults.SplitServerHeader = true;
    StartSim();
    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO_22);
    StopSimAndExpectAllReleased();

    options_.Faults.NeverAnswerProbe = true;
    DeviceSettings.ProbeTimeoutMs = 300;
    StartSim();
    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_UNRECOGNISED);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_RECEIVE});
    StopSimAndExpectAllReleased();
}

TEST_F(Simulator, RefusedCredentialsInEveryFormFailTheCommand) {
    StartSim();
    UseDevice(sim_->Endpoint().port, "root", "wrong");
    EXPECT_EQ(SendRebootCommand(), 0);
    UseDevice(sim_->Endpoint().port, "", "");
    EXPECT_EQ(SendRebootCommand(), 0);
    sim_->Stop();

    options_.Faults.RefuseCredentials = true;
    options_.Faults.SplitUnauthorized = true;
    StartSim();
    EXPECT_EQ(SendFactoryResetCommand(), 0);
    EXPECT_EQ(sim_->Configuration(), "hostname factory\n");
    StopSimAndExpectAllReleased();
    EXPECT_EQ(Errors(), std::vector<int>(3, ERR_CREDENTIALS));
    EXPECT_TRUE(Statuses().empty());
}

TEST_F(Simulator, KeepsItsConfigurationInTheStateFileAndResetsItToFactory) {
    StartSim();
    EXPECT_EQ(testing_support::ReadWholeFile(options_.StatePath), "hostname factory\n")
        << "a missing state file starts from the factory text";
    testing_support::WriteWholeFile(options_.StatePath, "hostname changed\n");
    EXPECT_EQ(sim_->Configuration(), "hostname changed\n");
    EXPECT_EQ(SendFactoryResetCommand(), 1);
    EXPECT_EQ(testing_support::ReadWholeFile(options_.StatePath), "hostname factory\n");
    EXPECT_EQ(SendRebootCommand(), 1);
    sim_->Stop();
    EXPECT_EQ(testing_support::ReadWholeFile(options_.LogPath),
              "GET /cli?INITIALIZE+FACTORY HTTP/1.0\nGET /cli?REBOOT HTTP/1.0\n");
    EXPECT_EQ(Statuses(), std::vector<int>(2, STATUS_COMMAND_DONE));
    ExpectAllReleased();
}

TEST_F(Simulator, CommandsAreDoneWhenTheDeviceClosesWithOrWithoutAReply) {
    options_.Faults.CloseWithoutReply = true;
    options_.Faults.SkipTftp = true;
    StartSim();
    EXPECT_EQ(SendListChangesCommand(), 1);
    EXPECT_EQ(SendExecuteCommand(), 1);
    EXPECT_EQ(sim_->Transfers(), (std::vector<std::string>{"WRQ upload-image 127.0.0.1:69 skipped",
                                                           "RRQ image 127.0.0.1:69 skipped"}));
    StopSimAndExpectAllReleased();
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Statuses(), std::vector<int>(2, STATUS_COMMAND_DONE));
}

TEST_F(Simulator, AConnectionHeldOpenEndsAtTheIdleTimeout) {
    options_.Faults.HoldConnectionMs = 20000;
    DeviceSettings.CommandIdleTimeoutMs = 300;
    StartSim();
    EXPECT_EQ(SendRebootCommand(), 1);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_RECEIVE});
    EXPECT_EQ(Statuses(), std::vector<int>{STATUS_COMMAND_DONE});
    StopSimAndExpectAllReleased();
}

TEST_F(Simulator, ATransferNobodyAnswersFailsOnTheDeviceAndTheCommandStillEnds) {
    options_.Tftp.ServerPort = testing_support::PickFreeUdpPort();
    StartSim();
    EXPECT_EQ(SendListChangesCommand(), 1);
    const auto transfers = sim_->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_NE(transfers[0].find("failed: no answer"), std::string::npos) << transfers[0];
    StopSimAndExpectAllReleased();
}

TEST(SimCommandLine, TakesEveryOptionAndRejectsWhatItDoesNotKnow) {
    SimCommandLine line;
    std::string error;
    ASSERT_TRUE(ParseSimCommandLine({"--listen",
                                     "127.0.0.1:8080",
                                     "--state",
                                     "s.cfg",
                                     "--server",
                                     "Tavio 21",
                                     "--user",
                                     "admin",
                                     "--password",
                                     "pw",
                                     "--tftp-port",
                                     "6969",
                                     "--factory",
                                     "f.txt",
                                     "--log",
                                     "l.txt",
                                     "--max-requests",
                                     "3",
                                     "--duration",
                                     "9000",
                                     "--refuse-credentials",
                                     "--never-answer-probe",
                                     "--close-without-reply",
                                     "--hold-connection",
                                     "500",
                                     "--split-server-header",
                                     "--split-unauthorized",
                                     "--skip-tftp",
                                     "--drop-sent",
                                     "1,3",
                                     "--duplicate-sent",
                                     "2",
                                     "--drop-received",
                                     "0",
                                     "--silent-after",
                                     "4",
                                     "--retransmit-ms",
                                     "50"},
                                    &line, &error))
        << error;
    const SimOptions& o = line.Options;
    EXPECT_EQ(o.Listen, (plat::Ipv4Endpoint{plat::kLoopbackAddress, 8080}));
    EXPECT_EQ(o.ServerHeader, "Tavio 21");
    EXPECT_EQ(o.UserName + ":" + o.Password, "admin:pw");
    EXPECT_EQ(o.Tftp.ServerPort, 6969);
    EXPECT_EQ(line.FactoryPath, "f.txt");
    EXPECT_EQ(o.MaxRequests, 3);
    EXPECT_TRUE(o.Faults.RefuseCredentials && o.Faults.NeverAnswerProbe &&
                o.Faults.CloseWithoutReply && o.Faults.SplitServerHeader &&
                o.Faults.SplitUnauthorized && o.Faults.SkipTftp);
    EXPECT_EQ(o.Faults.HoldConnectionMs, 500);
    EXPECT_EQ(o.Tftp.DropSent, (std::set<int>{1, 3}));
    EXPECT_EQ(o.Tftp.DuplicateSent, (std::set<int>{2}));
    EXPECT_EQ(o.Tftp.SilentAfterSent, 4);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--state", "s"},
             {"--listen", "127.0.0.1:8080"},
             {"--listen", "127.0.0.1:70000", "--state", "s"},
             {"--listen", "127.0.0.1:80", "--state", "s", "--drop-sent", "1,,2"},
             {"--listen", "127.0.0.1:80", "--state", "s", "--frobnicate"},
             {"--listen", "127.0.0.1:80", "--state"},
         }) {
        SimCommandLine ignored;
        error.clear();
        EXPECT_FALSE(ParseSimCommandLine(bad, &ignored, &error));
        EXPECT_FALSE(error.empty());
    }
}
