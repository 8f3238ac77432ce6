// Interoperability with TFTP clients nobody here wrote (tftp-hpa's `tftp`, `atftp`, `curl`), at
// their default timers, through a lossy relay that loses or repeats one chosen packet: every such
// transfer must still succeed, byte for byte. A client that is not installed skips its rows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/lossy_udp_relay.h"
#include "tests/tftp/tftp_server_fixture.h"

using namespace testing_support;

namespace {

enum class Client { TftpHpa, Atftp, Curl };
enum class Way { Get, Put };

// Positions count the datagrams of one direction. A get: RRQ, ACK 1, ACK 2, ... to the server;
// DATA 1, DATA 2, ... to the client. A put: WRQ, DATA 1, DATA 2, ... to the server; ACK 0,
// ACK 1, ... to the client.
struct Scenario {
    std::string name;
    Client client;
    Way way;
    RelayFaults toServer;
    RelayFaults toClient;
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

const char* ClientProgram(Client c) {
    return c == Client::TftpHpa ? "tftp" : c == Client::Atftp ? "atftp" : "curl";
}

std::string ClientCommand(Client c, Way way, std::uint16_t port, const std::string& local) {
    const std::string p = std::to_string(port);
    std::string line;
    switch (c) {
        case Client::TftpHpa:
            line = "tftp -m octet 127.0.0.1 " + p + " -c " +
                   (way == Way::Get ? "get image " + local : "put " + local + " upload-image");
            break;
        case Client::Atftp:
            line = std::string("atftp ") +
                   (way == Way::Get ? "-g -r image" : "-p -r upload-image") + " -l " + local +
                   " 127.0.0.1 " + p;
            break;
        case Client::Curl:
            line = "curl -sS --tftp-no-options " +
                   (way == Way::Get ? "-o " + local + " tftp://127.0.0.1:" + p + "/image"
                                    : "-T " + local + " tftp://127.0.0.1:" + p + "/upload-image");
            break;
    }
    return "timeout 120 " + line + " >/dev/null 2>&1";
}

class RealClient : public TftpServerTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    void SetUp() override {
        const std::string probe =
            std::string("command -v ") + ClientProgram(GetParam().client) + " >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0)
            GTEST_SKIP() << "no " << ClientProgram(GetParam().client) << " on PATH";
        TftpServerTest::SetUp();
        // The server's own defaults, as a device meets them.
        TftpSettings.RetransmitInitialMs = TftpSettingsRecord{}.RetransmitInitialMs;
        TftpSettings.RetransmitMaxMs = TftpSettingsRecord{}.RetransmitMaxMs;
        TftpSettings.TransferTimeoutMs = TftpSettingsRecord{}.TransferTimeoutMs;
    }
};

// 2,000 bytes: blocks 1 to 4, the last one short.
std::string LinesOfText() {
    std::string text;
    for (int i = 0; text.size() < 2000; ++i) text += "set item " + std::to_string(i) + "\n";
    return text.substr(0, 2000);
}

}  // namespace

TEST_P(RealClient, OneLostOrRepeatedPacketNeverFailsTheTransfer) {
    const Scenario& s = GetParam();
    const std::string local = dir + "/client-side";
    const std::string text = s.way == Way::Get ? PatternText(2000) : LinesOfText();
    if (s.way == Way::Get)
        LoadImage(text);
    else
        WriteWholeFile(local, text);
    StartServer();
    int exitCode = 0;
    std::string trace;
    bool lastAckPassed = false;  // the client's ACK of the last block went on to the server
    {
        LossyUdpRelay relay(plat::Ipv4Endpoint{plat::kLoopbackAddress, port}, s.toServer,
                            s.toClient);
        exitCode = std::system(ClientCommand(s.client, s.way, relay.Port(), local).c_str());
        relay.Stop();
        trace = relay.TraceText();
        for (const LossyUdpRelay::Record& r : relay.Trace())
            lastAckPassed |= r.toServer && r.opcode == 4 && r.field == 4 &&
                             r.fate != LossyUdpRelay::Fate::Dropped;
    }
    const TftpRunOutcome run = FinishRun();
    EXPECT_EQ(exitCode, 0) << trace;
    if (s.way == Way::Get) {
        // A client may end without ever sending its last ACK (atftp does, now and then, after
        // a repeated block): the server cannot know, and says so.
        EXPECT_EQ(run.Result,
                  lastAckPassed ? TftpRunResult::FileServed : TftpRunResult::LastAckMissing)
            << trace;
        EXPECT_TRUE(ReadWholeFile(local) == text);
    } else {
        EXPECT_EQ(run.Result, TftpRunResult::FileStored) << trace;
        EXPECT_EQ(TargetFileText(), testing_support::WithCrLf(text));
    }
    if (std::getenv("MORVANE_SHOW_TRACE") != nullptr) std::printf("%s", trace.c_str());
}

namespace {

RelayFaults Drop(int position) {
    RelayFaults f;
    f.drop = {position};
    return f;
}
RelayFaults Repeat(int position) {
    RelayFaults f;
    f.duplicate = {position};
    return f;
}

// Per client and direction: no fault; a lost DATA, a lost ACK (the last ACK of a put too: the
// server's dally answers the repeated last block); a repeated DATA, a repeated ACK.
std::vector<Scenario> Scenarios() {
    std::vector<Scenario> all;
    const std::pair<Client, const char*> clients[] = {
        {Client::TftpHpa, "TftpHpa"}, {Client::Atftp, "Atftp"}, {Client::Curl, "Curl"}};
    for (const auto& [client, name] : clients) {
        const std::string n = name;
        const auto add = [&](const std::string& what, Way way, RelayFaults up, RelayFaults down) {
            all.push_back(Scenario{n + what, client, way, up, down});
        };
        add("GetClean", Way::Get, {}, {});
        add("GetLostData", Way::Get, {}, Drop(2));
        add("GetLostAck", Way::Get, Drop(3), {});
        add("GetRepeatedData", Way::Get, {}, Repeat(2));
        add("GetRepeatedAck", Way::Get, Repeat(3), {});
        add("PutClean", Way::Put, {}, {});
        add("PutLostData", Way::Put, Drop(3), {});
        add("PutLostAck", Way::Put, {}, Drop(2));
        add("PutLostLastAck", Way::Put, {}, Drop(5));
        add("PutRepeatedData", Way::Put, Repeat(3), {});
        add("PutRepeatedAck", Way::Put, {}, Repeat(2));
    }
    return all;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Relay, RealClient, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) { return info.param.name; });
