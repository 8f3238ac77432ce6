// Many transfers at once through the one port, reads and writes interleaved, each booking with a
// source or sink of its own: every byte reaches the transfer it belongs to, and the run ends with
// every socket released.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/config_file_hooks.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "tests/tftp/tftp_server_fixture.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"

using namespace testing_support;

namespace {

// What one booking's hooks work on.
struct Side {
    std::string image;   // served by a read
    std::string stored;  // a write's whole text
    std::string pending;
};

Side& Bound() {
    return *static_cast<Side*>(ActiveTransferRecord());
}

int Supply(std::uint8_t* destination, std::uint32_t* blockLength, std::uint32_t* blockNumber,
           std::uint32_t blockSize) {
    const Side& side = Bound();
    const std::size_t from = std::size_t{*blockNumber} * blockSize;
    const std::size_t n =
        from >= side.image.size() ? 0 : std::min<std::size_t>(blockSize, side.image.size() - from);
    std::copy_n(side.image.begin() + static_cast<std::ptrdiff_t>(std::min(from, side.image.size())),
                n, destination);
    *blockLength = static_cast<std::uint32_t>(n);
    ++*blockNumber;
    return 1;
}

int Store(const std::uint8_t* bytes, int count, std::uint32_t* written, int packetLength,
          int blockNumber) {
    Side& side = Bound();
    if (blockNumber == 1) side.pending.clear();
    if (packetLength == 0) {
        side.pending.clear();
        return 1;
    }
    side.pending.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    *written += static_cast<std::uint32_t>(count);
    if (packetLength != kTftpPacketSize) side.stored = side.pending;
    return 1;
}

bool Ignore(int, const void*) {
    return true;
}

constexpr TransferHooksTable kReadHooks{CheckFilename, Supply, nullptr, Ignore, Ignore};
constexpr TransferHooksTable kWriteHooks{CheckFilename, nullptr, Store, Ignore, Ignore};

std::string TextOf(int n) {
    return "transfer " + std::to_string(n) + ": " +
           std::string(1500 + 97 * n, static_cast<char>('a' + n % 26));
}

class Interleaving : public TftpServerTest {};

}  // namespace

TEST_F(Interleaving, ManyReadsAndWritesAtOnceEachGetTheirOwnBytes) {
    constexpr int kEach = 12;
    std::vector<std::shared_ptr<Side>> sides;
    std::vector<TftpBooking> bookings;
    for (int n = 0; n < 2 * kEach; ++n) {
        auto side = std::make_shared<Side>();
        const bool read = n < kEach;
        if (read) side->image = TextOf(n);
        TftpBooking booking;
        ASSERT_EQ(BookTftpTransfer(TftpDeviceAddressOf(DeviceAddress),
                                   read ? kReadHooks : kWriteHooks, side, 3000, &booking),
                  TftpReadiness::Ready);
        sides.push_back(side);
        bookings.push_back(booking);
    }
    std::vector<PeerTransfer> got(2 * kEach);
    {
        std::vector<std::thread> peers;
        for (int n = 0; n < 2 * kEach; ++n)
            peers.emplace_back([&, n] {
                TftpTestPeer peer(port);
                got[n] = n < kEach ? peer.Get("image") : peer.Put("upload-image", TextOf(n));
            });
        for (std::thread& t : peers) t.join();
    }
    std::vector<std::string> served, stored;
    for (int n = 0; n < 2 * kEach; ++n) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(got[n].complete);
        const TftpRunOutcome outcome = AwaitTftpBooking(bookings[n], 3000);
        EXPECT_EQ(outcome.Result,
                  n < kEach ? TftpRunResult::FileServed : TftpRunResult::FileStored);
        if (n < kEach) served.push_back(got[n].data);
        if (n >= kEach) stored.push_back(sides[n]->stored);
    }
    // The device address is the same for all: which booking took which request is the port's
    // choice, but every text went whole to exactly one of them.
    std::vector<std::string> images, texts;
    for (int n = 0; n < kEach; ++n) images.push_back(TextOf(n));
    for (int n = kEach; n < 2 * kEach; ++n) texts.push_back(TextOf(n));
    for (auto* list : {&served, &stored, &images, &texts}) std::sort(list->begin(), list->end());
    EXPECT_EQ(served, images);
    EXPECT_EQ(stored, texts);
    EndTftpDally();
    for (int i = 0; i < 300 && IsTftpServerRunning() != 0; ++i) plat::SleepMs(10);
    EXPECT_EQ(IsTftpServerRunning(), 0);
}
