// The device simulator as the command channel sees it, its fault switches, and its command line.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>
#include <tuple>

#include "devicecmd/cli_commands.h"
#include "devicecmd/server_probe.h"
#include "sim/device_simulator.h"
#include "sim/sim_command_line.h"
#include "sim/sim_fleet.h"
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

// Its errors give the system's words, not its numbers.
TEST_F(Simulator, APortInUseIsRefusedInWords) {
    const DeviceSimulator& first = StartSim();
    SimOptions again = options_;
    again.Listen = first.Endpoint();
    again.StatePath = dir_ + "/second.cfg";
    again.LogPath.clear();
    DeviceSimulator second(again);
    std::string error;
    if (second.Start(&error)) GTEST_SKIP() << "this system lets two sockets listen on one port";
    const std::string at = "cannot listen on 127.0.0.1:" + std::to_string(again.Listen.port) + ": ";
    ASSERT_EQ(error.rfind(at, 0), 0u) << error;
    EXPECT_GT(error.size(), at.size());
    EXPECT_EQ(error.find_first_of("0123456789", at.size()), std::string::npos) << error;
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
                                     "50",
                                     "--tftp-source",
                                     "127.0.0.2"},
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
    EXPECT_EQ(o.Tftp.LocalAddress, 0x7f000002u);

    SimCommandLine fleet;
    ASSERT_TRUE(ParseSimCommandLine({"--fleet",        "4",
                                     "--listen",       "127.0.0.2:8080",
                                     "--state",        "d",
                                     "--log",          "l",
                                     "--config-bytes", "30000",
                                     "--packet-delay", "2",
                                     "--fault",        "2=silent-after:4",
                                     "--fault",        "2-4=skip-tftp",
                                     "--fault",        "3=unreachable",
                                     "--fault",        "4=server:Tavio 22"},
                                    &fleet, &error))
        << error;
    EXPECT_EQ(fleet.Fleet.Count, 4);
    EXPECT_EQ(fleet.Fleet.First, (plat::Ipv4Endpoint{0x7f000002, 8080}));
    EXPECT_EQ(fleet.Fleet.StateDirectory + fleet.Fleet.LogDirectory, "dl");
    EXPECT_EQ(fleet.Fleet.ConfigBytes, 30000u);
    EXPECT_EQ(fleet.Options.PacketDelayMs, 2);
    EXPECT_EQ(fleet.Fleet.Switches,
              (std::map<int, std::vector<std::string>>{{2, {"silent-after:4", "skip-tftp"}},
                                                       {3, {"skip-tftp", "unreachable"}},
                                                       {4, {"skip-tftp", "server:Tavio 22"}}}));

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--state", "s"},
             {"--listen", "127.0.0.1:8080"},
             {"--listen", "127.0.0.1:70000", "--state", "s"},
             {"--listen", "127.0.0.1:80", "--state", "s", "--drop-sent", "1,,2"},
             {"--listen", "127.0.0.1:80", "--state", "s", "--frobnicate"},
             {"--listen", "127.0.0.1:80", "--state"},
             {"--listen", "127.0.0.1:80", "--state", "s", "--fault", "1=skip-tftp"},
             {"--fleet", "2", "--listen", "0.0.0.0:80", "--state", "d"},
         }) {
        SimCommandLine ignored;
        error.clear();
        EXPECT_FALSE(ParseSimCommandLine(bad, &ignored, &error));
        EXPECT_FALSE(error.empty());
    }
    // A fleet stays on loopback, where every address answers: its first device and its last.
    for (const auto& [listen, count, reason] :
         {std::tuple{"127.255.255.254:80", "2", ""},
          std::tuple{"10.0.0.1:80", "2", "--fleet needs a first address in 127.0.0.0/8, not 10.0.0.1"},
          std::tuple{"127.255.255.254:80", "3",
                     "--fleet 3 from 127.255.255.254 would leave 127.0.0.0/8"}}) {
        SimCommandLine ignored;
        error.clear();
        EXPECT_EQ(ParseSimCommandLine({"--fleet", count, "--listen", listen, "--state", "d"},
                                      &ignored, &error),
                  *reason == '\0');
        EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
    }
    for (const char* fault :
         {"3=skip-tftp", "1=silent-after", "1=skip-tftp:1", "2-1=skip-tftp", "1=listen:x", "1"}) {
        SimCommandLine ignored;
        EXPECT_FALSE(ParseSimCommandLine(
            {"--fleet", "2", "--listen", "127.0.0.2:80", "--state", "d", "--fault", fault},
            &ignored, &error))
            << fault;
    }
}

namespace {

// What a fleet device sent to the test's TFTP port during one LIST CHANGES: the address of its
// first packet, and the text of the DATA blocks acknowledged.
struct SeenTransfer {
    std::uint32_t from = 0;
    std::string text;
    bool complete = false;
};

// Acknowledges every WRQ and DATA block arriving at `socket` until it has been quiet for a while.
SeenTransfer TakeWrite(plat::SocketHandle socket) {
    SeenTransfer seen;
    std::array<std::uint8_t, 600> packet{};
    for (;;) {
        plat::Ipv4Endpoint from{};
        const int n = plat::SocketRecvFrom(socket, packet, &from, 400);
        if (n < 4) return seen;
        if (seen.from == 0) seen.from = from.address;
        const int opcode = packet[1];
        const std::uint8_t ack[4] = {0, 4, opcode == 3 ? packet[2] : std::uint8_t{0},
                                     opcode == 3 ? packet[3] : std::uint8_t{0}};
        if (opcode == 3) {
            seen.text.append(packet.begin() + 4, packet.begin() + n);
            seen.complete = n < 4 + 512;
        }
        plat::SocketSendTo(socket, ack, from);
    }
}

}  // namespace

TEST_F(Simulator, AFleetAnswersOnEachAddressWithItsOwnConfigurationAndFaults) {
    const plat::SocketHandle tftp = plat::UdpOpen();
    ASSERT_TRUE(plat::SocketBind(tftp, {plat::kLoopbackAddress, 0}));
    plat::Ipv4Endpoint tftpAt{};
    plat::SocketLocalAddress(tftp, &tftpAt);

    SimFleetOptions fleetOptions;
    fleetOptions.Count = 5;
    fleetOptions.First = {0x7f2a0002, 0};  // 127.42.0.2
    fleetOptions.StateDirectory = dir_ + "/fleet";
    fleetOptions.ConfigBytes = 1500;
    fleetOptions.Common = options_;
    fleetOptions.Common.Tftp.ServerPort = tftpAt.port;
    fleetOptions.Switches = {{1, {"packet-delay:2", "command-delay:20"}},
                             {2, {"refuse-credentials"}},
                             {3, {"silent-after:2"}},
                             {4, {"unreachable"}},
                             {5, {"never-answer-probe"}}};
    SimFleet fleet(fleetOptions);
    std::string error;
    ASSERT_TRUE(fleet.Start(&error)) << error;
    DeviceSettings.ProbeTimeoutMs = 300;

    const struct {
        ServerType probe;
        int command;
        std::vector<int> errors;
        std::size_t bytesSent;  // 0: no TFTP packet at all
        bool complete;
    } devices[] = {
        {SERVER_TAVIO, 1, {}, 1500, true},
        {SERVER_TAVIO, 0, {ERR_CREDENTIALS}, 0, false},
        {SERVER_TAVIO, 1, {}, 512, false},  // the request and one block, then silence
        {SERVER_UNRECOGNISED, 0, {ERR_CONNECT, ERR_CONNECT}, 0, false},
        {SERVER_UNRECOGNISED, 1, {ERR_RECEIVE}, 1500, true},
    };
    for (int number = 1; number <= fleet.Count(); ++number) {
        const auto& expected = devices[number - 1];
        const std::string address = plat::FormatIpv4(fleet.Endpoint(number).address);
        SCOPED_TRACE(address);
        plat::ClearInjectedFailures();
        DeviceSettings.Port = fleet.Endpoint(number).port;
        SetHost(address.c_str());
        SetUserName("root");
        SetPassword("tundra");
        const std::size_t errorsBefore = Errors().size();

        EXPECT_EQ(ProbeServerType(address.c_str()), expected.probe);
        SeenTransfer seen;
        std::thread server([&] { seen = TakeWrite(tftp); });
        EXPECT_EQ(SendListChangesCommand(), expected.command);
        server.join();
        const std::vector<int> errors = Errors();
        EXPECT_EQ(std::vector<int>(errors.begin() + static_cast<long>(errorsBefore), errors.end()),
                  expected.errors);

        const std::string own = fleet.FactoryText(number);
        EXPECT_EQ(own.size(), 1500u);
        EXPECT_EQ(own.substr(0, own.find('\n')),
                  "! tavio-sim device " + std::to_string(number) + " at " + address);
        EXPECT_EQ(seen.text, own.substr(0, expected.bytesSent));
        EXPECT_EQ(seen.complete, expected.complete);
        if (expected.bytesSent > 0 && testing_support::LoopbackAliasesKeepTheirAddress()) {
            EXPECT_EQ(plat::FormatIpv4(seen.from), address);
        }
        if (fleet.Device(number) != nullptr) {
            const std::string state = fleetOptions.StateDirectory + "/" + address + ".txt";
            EXPECT_EQ(testing_support::ReadWholeFile(state), own);
        }
    }
    EXPECT_EQ(fleet.Device(4), nullptr);
    fleet.Stop();
    plat::SocketClose(tftp);
    ExpectAllReleased();
}
