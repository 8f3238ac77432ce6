// ProbeServerType against scripted web servers on loopback.
#include <gtest/gtest.h>

#include "devicecmd/server_probe.h"
#include "platform/fault_injection.h"
#include "spine/events.h"
#include "tests/devicecmd/channel_fixture.h"
#include "tests/devicecmd/scripted_http_peer.h"

using plat::Op;

namespace {

class Probe : public ChannelTest {
  protected:
    ServerType ProbeWith(PeerScript script, std::string* request = nullptr) {
        ScriptedHttpPeer peer(std::move(script));
        DeviceSettings.Port = peer.Port();
        const ServerType type = ProbeServerType("127.0.0.1");
        peer.Finish();
        if (request && !peer.Requests().empty()) *request = peer.Requests()[0];
        return type;
    }
    static PeerScript Reply(std::vector<std::string> chunks) {
        PeerScript s;
        s.Chunks = std::move(chunks);
        return s;
    }
};

std::string Page(const std::string& headers) {
    return "HTTP/1.0 200 OK\r\n" + headers + "Content-Type: text/html\r\n\r\n<html></html>";
}

}  // namespace

TEST_F(Probe, ClassifiesByTheFirstPatternInTableOrder) {
    const struct {
        std::string headers;
        ServerType expected;
    } cases[] = {
        {"Server: Tavio\r\n", SERVER_TAVIO},
        {"Server: Tavio 21\r\n", SERVER_TAVIO_21},
        {"Server: Tavio 22\r\n", SERVER_TAVIO_22},
        {"Server: Tavio 21/2.3 (embedded)\r\n", SERVER_TAVIO_21},
        {"Server: Tavio 23\r\n", SERVER_TAVIO},
        {"Server: Tavio2\r\n", SERVER_TAVIO},
        {"Server: Merrowin II\r\n", SERVER_UNSUPPORTED},
        {"Server: Wendrake/1.0\r\n", SERVER_UNSUPPORTED},
        {"Server: Tavio 22\r\nX-Also: Server: Wendrake\r\n", SERVER_UNSUPPORTED},
        {"Server: Tavio\r\nX-Also: Server: Merrowin II\r\n", SERVER_UNSUPPORTED},
        {"Server: Apache\r\n", SERVER_UNRECOGNISED},
        {"server: Tavio\r\n", SERVER_UNRECOGNISED},
        {"Server: TAVIO 21\r\n", SERVER_UNRECOGNISED},
        {"", SERVER_UNRECOGNISED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headers);
        EXPECT_EQ(ProbeWith(Reply({Page(c.headers)})), c.expected);
    }
    EXPECT_TRUE(Events().empty()) << "a reply without a pattern closes quietly";
    ExpectAllReleased();
}

TEST_F(Probe, SendsTheBareRequestAndPrintsItsLines) {
    std::string request;
    EXPECT_EQ(ProbeWith(Reply({Page("Server: Tavio\r\n")}), &request), SERVER_TAVIO);
    EXPECT_EQ(request, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Printed(),
              "Resolving Drennick server 127.0.0.1.\n"
              "Trying to determing the server type.\n");
}

TEST_F(Probe, HeaderInALaterChunkOrSplitAcrossReadsIsFound) {
    EXPECT_EQ(ProbeWith(Reply({"HTTP/1.0 200 OK\r\n", "Server: Tavio 22\r\n\r\n"})),
              SERVER_TAVIO_22);
    EXPECT_EQ(ProbeWith(Reply({"HTTP/1.0 200 OK\r\nServer: Ta", "vio 22\r\n\r\n"})),
              SERVER_TAVIO_22);
    EXPECT_EQ(ProbeWith(Reply({"HTTP/1.0 200 OK\r\nS", "erver: Merrowin II\r\n\r\n"})),
              SERVER_UNSUPPORTED);
    // A first read that fills the whole 16384-byte area and ends inside the pattern.
    const std::string filler(16384 - 10, 'x');
    EXPECT_EQ(ProbeWith(Reply({filler + "Server: Ta" + "vio 21\r\n\r\n"})), SERVER_TAVIO_21);
    EXPECT_TRUE(Events().empty());
    ExpectAllReleased();
}

TEST_F(Probe, SilentServerEndsInAReceiveErrorAfterTheTimeout) {
    DeviceSettings.ProbeTimeoutMs = 300;
    PeerScript silent;
    silent.End = PeerScript::Ending::Stall;
    EXPECT_EQ(ProbeWith(silent), SERVER_UNRECOGNISED);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_RECEIVE});
    EXPECT_TRUE(log_.Contains("Error in recv() call [errno="));
    EXPECT_EQ(Events()[0].printedBefore.find("Error in recv()"), std::string::npos)
        << "the event comes before its line";
    ExpectAllReleased();
}

TEST_F(Probe, FailedSendOrReceiveReleasesEverything) {
    PeerScript passive;
    passive.PassiveMs = 200;
    plat::InjectFailure(Op::Send);
    EXPECT_EQ(ProbeWith(passive), SERVER_UNRECOGNISED);
    EXPECT_TRUE(log_.Contains("Error in send() call [errno=10000]\n"));
    ExpectAllReleased();

    plat::ClearInjectedFailures();
    plat::InjectFailure(Op::Recv);
    EXPECT_EQ(ProbeWith(passive), SERVER_UNRECOGNISED);
    EXPECT_TRUE(log_.Contains("Error in recv() call [errno=10000]\n"));
    EXPECT_EQ(Errors(), (std::vector<int>{ERR_SEND, ERR_RECEIVE}));
    EXPECT_TRUE(Statuses().empty()) << "the probe never reports a status";
    ExpectAllReleased();
}

TEST_F(Probe, NoConnectionIsUnrecognisedWithTheConnectionsOwnReport) {
    DeviceSettings.Port = testing_support::PickFreeTcpPort();
    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_UNRECOGNISED);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_CONNECT});
    EXPECT_FALSE(log_.Contains("Trying to determing"));
    ExpectAllReleased();
}

TEST_F(Probe, AnEndlessPageWithoutAServerHeaderIsGivenUpOn) {
    PeerScript script = Reply({Page("") + std::string(1100 * 1024, 'x')});
    script.End = PeerScript::Ending::Stall;
    EXPECT_EQ(ProbeWith(script), SERVER_UNRECOGNISED);
    EXPECT_TRUE(Errors().empty());
    EXPECT_NE(Printed().find("without naming its server"), std::string::npos);
    ExpectAllReleased();
}

// A reply that arrives in small pieces: a pattern that a longer one could still extend is held
// back until the reply says more, and a reply that trickles in is cut off at the probe's deadline.
TEST_F(Probe, ReplyInPiecesIsClassifiedWholeAndBoundedOverall) {
    DeviceSettings.ProbeTimeoutMs = 300;
    const auto bytes = [](const std::string& text) {
        std::vector<std::string> out;
        for (const char c : text) out.emplace_back(1, c);
        return out;
    };
    const std::string head = "HTTP/1.0 200 OK\r\n";
    const struct {
        std::vector<std::string> chunks;
        PeerScript::Ending end;
        ServerType expected;
        std::vector<int> errors;
        int deadlineMs = 5000;
    } cases[] = {
        {bytes("Server: Tavio 21\r\n\r\n"), PeerScript::Ending::Close, SERVER_TAVIO_21, {}},
        {{head + "Server: Tavio", " 22"}, PeerScript::Ending::Close, SERVER_TAVIO_22, {}},
        {{head + "Server: Tavio 2", "1"}, PeerScript::Ending::Close, SERVER_TAVIO_21, {}},
        // Nothing more comes: the shorter pattern stands, whether the device closes or stalls.
        {{head + "Server: Tavio"}, PeerScript::Ending::Close, SERVER_TAVIO, {}},
        {{head + "Server: Tavio 2"}, PeerScript::Ending::Stall, SERVER_TAVIO, {}},
        {{head + "Server: Tavio 2", "3\r\n"}, PeerScript::Ending::Close, SERVER_TAVIO, {}},
        // A zero byte ends the searched text: nothing after it can extend the pattern.
        {{head + std::string("Server: Tavio\0 21", 17)},
         PeerScript::Ending::Stall,
         SERVER_TAVIO,
         {}},
        // One byte every 40 ms, each read well within its own time-out, never naming a server.
        {bytes(head + "Content-Type: text/html\r\nX-Padding: 0123456789\r\n"),
         PeerScript::Ending::Close,
         SERVER_UNRECOGNISED,
         {ERR_RECEIVE},
         400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.chunks));
        log_.Clear();
        const std::size_t before = Errors().size();
        PeerScript script = Reply(c.chunks);
        script.PauseMs = 40;
        script.End = c.end;
        script.StallLimitMs = 2000;
        DeviceSettings.ProbeDeadlineMs = c.deadlineMs;
        EXPECT_EQ(ProbeWith(script), c.expected);
        const auto errors = Errors();
        EXPECT_EQ(std::vector<int>(errors.begin() + static_cast<long>(before), errors.end()),
                  c.errors);
        ExpectAllReleased();
    }
}
