// The read transfer against a scripted peer on loopback.
#include <gtest/gtest.h>

#include "platform/fault_injection.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tests/tftp/tftp_server_fixture.h"

using namespace testing_support;

namespace {

class ReadTransfer : public TftpServerTest {};

bool HasStatus(int code) {
    for (int s : RecordedStatuses())
        if (s == code) return true;
    return false;
}

}  // namespace

TEST_F(ReadTransfer, ServesImagesOfBoundarySizesInLockStepBlocksWithProgress) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> blocks;
    };
    const Case cases[] = {{0, {0}},        {511, {511}},       {512, {512, 0}},
                          {513, {512, 1}}, {1000, {512, 488}}, {1024, {512, 512, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ClearRecordedEvents();
        const std::string image = PatternText(c.size);
        LoadImage(image);
        StartServer();
        TftpTestPeer peer(port);
        const PeerTransfer got = peer.Get("image");
        const TftpRunOutcome run = FinishRun();
        EXPECT_TRUE(got.complete);
        EXPECT_TRUE(got.data == image);
        EXPECT_EQ(got.blocks, c.blocks);
        EXPECT_EQ(got.dataPackets, static_cast<int>(c.blocks.size()));
        EXPECT_EQ(run.Result, TftpRunResult::FileServed);
        EXPECT_EQ(run.Bytes, c.size);
        EXPECT_TRUE(HasStatus(STATUS_SERVER_DONE));
        EXPECT_TRUE(RecordedErrors().empty());
        // Progress counts whole blocks against the image's size.
        std::vector<std::uint32_t> done;
        for (const HookEvent& e : RecordedEvents())
            if (!e.isError && e.code == STATUS_PROGRESS && e.total == c.size)
                done.push_back(e.done);
        ASSERT_EQ(done.size(), c.blocks.size());
        EXPECT_EQ(done.back(), 512 * c.blocks.size());
    }
}

TEST_F(ReadTransfer, StrayAndRepeatedAcksNeitherEndTheTransferNorMultiplyBlocks) {
    TftpSettings.RetransmitInitialMs = 2000;  // an ACK 1 sooner than 500 ms is a mere echo
    LoadImage(PatternText(1500));
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpRequest(1, "image", "octet"));
    ASSERT_EQ(peer.Receive(2000)->Field(), 1);
    peer.Send(TftpAck(1));
    const auto second = peer.Receive(2000);
    ASSERT_TRUE(second && second->Field() == 2);

    // A block not yet sent, an older one, and the block before at once: all ignored.
    peer.Send(TftpAck(9));
    peer.Send(TftpAck(0));
    peer.Send(TftpAck(1));
    EXPECT_FALSE(peer.Receive(700).has_value());
    // The block before, repeated after a while: block 2 once more at once, and only once.
    peer.Send(TftpAck(1));
    peer.Send(TftpAck(1));
    const auto again = peer.Receive(1000);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->bytes, second->bytes);
    // The retransmission timer runs from that re-send, not from the block's first send.
    EXPECT_FALSE(peer.Receive(1700).has_value());
    const auto timed = peer.Receive(2000);
    ASSERT_TRUE(timed && timed->Field() == 2);

    peer.Send(TftpAck(2));
    ASSERT_EQ(peer.Receive(2000)->Field(), 3);
    peer.Send(TftpAck(3));
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
    EXPECT_FALSE(peer.Receive(50).has_value());
    EXPECT_TRUE(log.Contains(" .. got ACK for (9), expected ACK for (2)\n"));
    EXPECT_TRUE(log.Contains("We need to resend block-2\n"));
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(ReadTransfer, PeerErrorEndsTheTransferWithoutAnswer) {
    LoadImage(PatternText(2000));
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpRequest(1, "image", "octet"));
    ASSERT_TRUE(peer.Receive(2000).has_value());
    peer.Send(TftpError(3, "disk full\x1b[2J"));
    const TftpRunOutcome run = FinishRun();
    EXPECT_EQ(run.Result, TftpRunResult::Failed);
    // The device's words reach a terminal only as printable text.
    EXPECT_EQ(run.Note, "the device sent the error \"disk full\\x1b[2J\"");
    EXPECT_FALSE(peer.Receive(50).has_value()) << "the read transfer never answers an end";
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_READ_REQUEST});
    EXPECT_FALSE(HasStatus(STATUS_SERVER_DONE));
    EXPECT_TRUE(log.Contains("client returned TFTP_ERROR (disk full\x1b[2J) \n"));
    EXPECT_TRUE(
        log.Contains("ProcessTftpReadRequest:637 - Correct ACK not recieved...bailing out.\n"));
}

TEST_F(ReadTransfer, SilentPeerGetsTheBlockAgainWithGrowingPausesThenTheRunEnds) {
    TftpSettings.RetransmitInitialMs = 20;
    TftpSettings.RetransmitMaxMs = 80;
    TftpSettings.TransferTimeoutMs = 400;
    struct Case {
        std::size_t size;
        TftpRunResult result;
        std::vector<int> errors;
    };
    // Silence after block 1 of two fails the run; silence after the last block means the peer
    // may well have it all: every block went out, only the last ACK is missing.
    const Case cases[] = {{700, TftpRunResult::Failed, {ERR_RECEIVE, ERR_READ_REQUEST}},
                          {100, TftpRunResult::LastAckMissing, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ClearRecordedEvents();
        LoadImage(PatternText(c.size));
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(TftpRequest(1, "image", "octet"));
        int copies = 0;
        while (const auto d = peer.Receive(300)) {
            EXPECT_EQ(d->Field(), 1);
            ++copies;
        }
        EXPECT_EQ(FinishRun().Result, c.result);
        // Sent at about 0, 20, 100, 180, 260 and 340 ms: never more often than the first
        // pause.
        EXPECT_GE(copies, 3);
        EXPECT_LE(copies, 10);
        EXPECT_EQ(RecordedErrors(), c.errors);
    }
    EXPECT_TRUE(log.Contains("Every block was sent, but the last ACK never arrived.\n"));
}

TEST_F(ReadTransfer, LostAndDuplicatedAcksStillDeliverTheImageIntact) {
    TftpSettings.RetransmitInitialMs = 30;
    const std::string image = PatternText(3000);  // blocks 1..6, the last one short
    LoadImage(image);
    StartServer();
    TftpTestPeer peer(port);
    PeerScript script;
    script.dropOnce = {2, 6};
    script.duplicate = {1, 4};
    const PeerTransfer got = peer.Get("image", script);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
    EXPECT_TRUE(got.complete);
    EXPECT_TRUE(got.data == image);
}

TEST_F(ReadTransfer, OnlyTheRequesterTakesPartAndMalformedDatagramsAreIgnored) {
    const std::string image = PatternText(600);
    LoadImage(image);
    StartServer();
    TftpTestPeer peer(port), intruder(port);
    peer.Send(TftpRequest(1, "image", "octet"));
    ASSERT_EQ(peer.Receive(2000)->Field(), 1);

    intruder.Send(TftpAck(1));
    const auto refusal = intruder.Receive(2000);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->Opcode(), 5);
    EXPECT_EQ(refusal->Field(), 5);
    EXPECT_EQ(refusal->Payload(), "Unknown transfer ID");

    peer.Send(Bytes{0, 4, 0});    // too short to be an ACK
    peer.Send(Bytes(600, 0x04));  // longer than any TFTP packet
    EXPECT_FALSE(peer.Receive(100).has_value()) << "block 2 went out without its ACK";
    peer.Send(TftpAck(1));
    const auto second = peer.Receive(2000);
    ASSERT_TRUE(second && second->Field() == 2);
    peer.Send(TftpAck(2));
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
}

TEST_F(ReadTransfer, WithoutALoadedImageNothingIsSent) {
    {
        std::lock_guard lock(SharedRecordLock);
        delete[] FileImage.Data;
        FileImage = FileImageRecord{};
    }
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpRequest(1, "image", "octet"));
    EXPECT_EQ(FinishRun().Result, TftpRunResult::Failed);
    EXPECT_FALSE(peer.Receive(50).has_value());
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_READ_REQUEST});
    EXPECT_TRUE(log.Contains("DownloadConfig:419 - FileImage.Data is NULL.\n"));
}

TEST_F(ReadTransfer, FailedSendOrReceiveIsReportedAndEndsTheRun) {
    struct Case {
        plat::Op op;
        int errorEvent;
        const char* line;
    };
    // The peer's own request is the first send; the server's wait for it the first receive.
    const Case cases[] = {
        {plat::Op::SendTo, ERR_SEND, "ProcessTftpReadRequest:629 - error in sendto() call.\n"},
        {plat::Op::RecvFrom, ERR_RECEIVE, "Error in recvfrom() call [errno=10000]\n"},
    };
    for (const Case& c : cases) {
        ClearRecordedEvents();
        LoadImage(PatternText(100));
        plat::ClearInjectedFailures();
        plat::InjectFailure(c.op, 1, plat::kAlways);
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(TftpRequest(1, "image", "octet"));
        EXPECT_EQ(FinishRun().Result, TftpRunResult::Failed);
        plat::ClearInjectedFailures();
        EXPECT_EQ(RecordedErrors(), (std::vector<int>{c.errorEvent, ERR_READ_REQUEST}));
        EXPECT_TRUE(log.Contains(c.line)) << c.line;
    }
}
