// The write transfer and the backup file behind it, against a scripted peer on loopback.
#include <gtest/gtest.h>

#include "platform/threads.h"

#include <filesystem>

#include "platform/fault_injection.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tests/tftp/tftp_server_fixture.h"

using namespace testing_support;

namespace {

class WriteTransfer : public TftpServerTest {
  protected:
    // Sends the WRQ and returns once ACK 0 came.
    void BeginUpload(TftpTestPeer& peer) {
        peer.Send(TftpRequest(2, "upload-image", "octet"));
        const auto ack = peer.Receive(2000);
        ASSERT_TRUE(ack && ack->Opcode() == 4 && ack->Field() == 0);
    }
    void ExpectAck(TftpTestPeer& peer, int block) {
        const auto ack = peer.Receive(2000);
        ASSERT_TRUE(ack.has_value()) << "no ACK " << block;
        EXPECT_EQ(ack->Opcode(), 4);
        EXPECT_EQ(ack->Field(), block);
    }
    void ExpectError(TftpTestPeer& peer, int code) {
        const auto error = peer.Receive(3000);
        ASSERT_TRUE(error.has_value()) << "no ERROR " << code;
        EXPECT_EQ(error->Opcode(), 5);
        EXPECT_EQ(error->Field(), code);
    }
};

}  // namespace

TEST_F(WriteTransfer, StoresTheTextWithEveryLineFeedPrecededByACarriageReturn) {
    struct Case {
        std::string sent;
        std::string stored;
        std::vector<int> acks;
    };
    const std::string plain(1000, 'x');
    const std::string twoBlocks(1024, 'y');
    std::string lineEnds;
    for (int i = 0; i < 512; ++i) lineEnds += "\r\n";
    const Case cases[] = {
        {"a\nb\n", "a\r\nb\r\n", {0, 1}},
        {"one\r\ntwo", "one\r\r\ntwo", {0, 1}},
        {plain, plain, {0, 1, 2}},
        {twoBlocks, twoBlocks, {0, 1, 2, 3}},  // ends with an empty DATA
        {std::string(512, '\n'), lineEnds, {0, 1, 2}},
        {"", "", {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent.size());
        StartServer();
        TftpTestPeer peer(port);
        const PeerTransfer put = peer.Put("upload-image", c.sent);
        const TftpRunOutcome run = FinishRun();
        EXPECT_TRUE(put.complete);
        EXPECT_EQ(put.acks, c.acks);
        EXPECT_EQ(run.Result, TftpRunResult::FileStored);
        EXPECT_EQ(run.Bytes, c.stored.size());
        EXPECT_EQ(TargetFileText(), c.stored);
        EXPECT_FALSE(TemporaryLeftBehind());
    }
    EXPECT_TRUE(log.Contains("Server is uploading the config file.\n"));
    EXPECT_TRUE(log.Contains("\nRecieved the last packet\n"));
}

TEST_F(WriteTransfer, RepeatedRequestRepeatedBlockAndOutOfOrderBlock) {
    StartServer();
    TftpTestPeer peer(port);
    BeginUpload(peer);
    peer.Send(TftpRequest(2, "upload-image", "octet"));
    ExpectAck(peer, 0);

    peer.Send(TftpData(2, "early"));
    EXPECT_FALSE(peer.Receive(100).has_value()) << "a block out of order is not acknowledged";
    const std::string first(512, 'f');
    peer.Send(TftpData(1, first));
    peer.Send(TftpData(1, first));  // a duplicate on the way: one ACK is enough
    ExpectAck(peer, 1);
    EXPECT_FALSE(peer.Receive(300).has_value());
    peer.Send(TftpData(1, first));  // later, as if ACK 1 had been lost: answered at once
    const auto again = peer.Receive(300);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->Field(), 1);
    peer.Send(TftpData(2, "end"));
    ExpectAck(peer, 2);

    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), first + "end");
    EXPECT_TRUE(log.Contains("Out of sync\n"));
}

TEST_F(WriteTransfer, SilenceOrPeerErrorEndsInAccessViolationAndTheOldBackupStays) {
    TftpSettings.RetransmitInitialMs = 20;
    TftpSettings.RetransmitMaxMs = 40;
    TftpSettings.TransferTimeoutMs = 300;
    for (const bool peerError : {false, true}) {
        SCOPED_TRACE(peerError ? "peer error" : "silence");
        WriteWholeFile(target, "old backup");
        StartServer();
        TftpTestPeer peer(port);
        BeginUpload(peer);
        peer.Send(TftpData(1, std::string(512, 'n')));
        if (peerError) peer.Send(TftpError(0, "cancelled"));
        int acks = 0;
        std::optional<PeerDatagram> last;
        while (const auto d = peer.Receive(300)) {
            EXPECT_TRUE(d->Opcode() != 4 || d->Field() == 1);
            acks += d->Opcode() == 4;
            last = d;
        }
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(last->Opcode(), 5);
        EXPECT_EQ(last->Field(), 2);
        EXPECT_TRUE(peerError || acks >= 3) << "silence brings the last ACK again";
        EXPECT_EQ(FinishRun().Result, TftpRunResult::Failed);
        EXPECT_EQ(TargetFileText(), "old backup");
        EXPECT_FALSE(TemporaryLeftBehind());
    }
    EXPECT_TRUE(log.Contains("ERROR: tftpd data error."));
    EXPECT_TRUE(log.Contains("Error: ProcessTftpWriteRequest() call failed...bailing out. \n"));
    EXPECT_EQ(RecordedStatuses(), (std::vector<int>{STATUS_SERVER_DONE, STATUS_SERVER_DONE}));
}

TEST_F(WriteTransfer, ATargetThatCannotBeStoredIsAnsweredWithDiskFull) {
    struct Case {
        const char* what;
        plat::Op op;  // Op::Count_: the target's folder is missing instead
        int skip;     // calls of op that succeed first
        int beeps;
    };
    const Case cases[] = {
        {"missing folder", plat::Op::Count_, 0, 1},
        {"write fails", plat::Op::FileWrite, 0, 0},
        {"flush fails", plat::Op::FileFlush, 0, 0},
        {"rename fails", plat::Op::FileReplace, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallBeepCounter();
        WriteWholeFile(target, "old backup");
        const std::string missing = dir + "/no-such-folder/backup.cfg";
        SetTargetPath(c.op == plat::Op::Count_ ? missing.c_str() : target.c_str());
        if (c.op != plat::Op::Count_) plat::InjectFailure(c.op, c.skip, 1);
        StartServer();
        TftpTestPeer peer(port);
        BeginUpload(peer);
        peer.Send(TftpData(1, std::string(512, 'n')));
        if (c.op != plat::Op::Count_) {  // the first block is taken; storing fails with the second
            ExpectAck(peer, 1);
            peer.Send(TftpData(2, "last"));
        }
        ExpectError(peer, 3);
        EXPECT_EQ(FinishRun().Result, TftpRunResult::StoreFailed);
        plat::ClearInjectedFailures();
        EXPECT_EQ(BeepsSounded(), c.beeps);
        EXPECT_EQ(TargetFileText(), "old backup");
        EXPECT_FALSE(TemporaryLeftBehind());
        EXPECT_FALSE(std::filesystem::exists(missing));
    }
}

TEST_F(WriteTransfer, LostAndDuplicatedBlocksStillStoreTheTextOnce) {
    TftpSettings.RetransmitInitialMs = 30;
    std::string text, stored;
    for (int i = 0; i < 300; ++i) {
        text += "line " + std::to_string(i) + "\n";
        stored += "line " + std::to_string(i) + "\r\n";
    }
    StartServer();
    TftpTestPeer peer(port);
    PeerScript script;
    script.dropOnce = {2, 1 + static_cast<int>(text.size() / 512)};
    script.duplicate = {1, 3};
    EXPECT_TRUE(peer.Put("upload-image", text, script).complete);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), stored);
}

TEST_F(WriteTransfer, ALostAckIsCoveredByRetransmission) {
    TftpSettings.RetransmitInitialMs = 20;
    plat::InjectFailure(plat::Op::SendTo, 1, 1);  // the peer's WRQ goes, the server's ACK 0 fails
    StartServer();
    TftpTestPeer peer(port);
    EXPECT_TRUE(peer.Put("upload-image", "after a lost ACK").complete);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), "after a lost ACK");
    EXPECT_TRUE(log.Contains("ERROR: tftpd sendto() error [ACK]."));
}

TEST_F(WriteTransfer, APeerThatRestartsItsTimerOnEveryDatagramStillGetsToResendItsBlock) {
    // Such a peer re-sends a lost block only after a silence as long as its own timer, and
    // takes our repeated ACK for a sign of life: the repeats must leave it that silence.
    constexpr int kPeerTimerMs = 150;
    TftpSettings.RetransmitInitialMs = 20;
    TftpSettings.RetransmitMaxMs = 250;
    StartServer();
    TftpTestPeer peer(port);
    BeginUpload(peer);
    // Block 1 is lost on the way.
    while (const auto d = peer.Receive(kPeerTimerMs)) {
        ASSERT_EQ(d->Opcode(), 4);
        ASSERT_EQ(d->Field(), 0);
    }
    peer.Send(TftpData(1, std::string(512, 'a')));  // the peer's timer ran out at last
    ExpectAck(peer, 1);
    peer.Send(TftpData(2, "end"));
    ExpectAck(peer, 2);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), std::string(512, 'a') + "end");
}

TEST_F(WriteTransfer, AfterTheTextIsStoredTheLastAckIsRepeatedWithoutHoldingTheReportOrPort) {
    TftpSettings.RetransmitInitialMs = 100;
    TftpSettings.RetransmitMaxMs = 300;
    StartServer();
    TftpTestPeer peer(port);
    BeginUpload(peer);
    peer.Send(TftpData(1, "whole text"));
    ExpectAck(peer, 1);  // as if it had been lost: the peer sends its last block again
    // The outcome is there at once, while the server still answers for the lost ACK.
    for (int i = 0; i < 500 && TftpRunsEnded() == runsBefore; ++i) plat::SleepMs(2);
    EXPECT_EQ(LastTftpRunOutcome().Result, TftpRunResult::FileStored);
    peer.Send(TftpData(1, "whole text"));
    ExpectAck(peer, 1);
    ExpectAck(peer, 1);  // and repeats it on its own, for a peer with a long timer
    EXPECT_TRUE(log.Contains("The last block came again: acknowledging it again.\n"));
    EXPECT_EQ(TargetFileText(), "whole text");

    // The next run takes the port at once, while the dally still holds it.
    StartServer();
    TftpTestPeer next(port);
    EXPECT_TRUE(next.Put("upload-image", "second").complete);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), "second");
    EXPECT_FALSE(peer.Receive(400).has_value()) << "the first dally ended";
}
