// The port's routing rules, one datagram at a time, against the owner's decision itself: which
// transfer a datagram goes to, what a booked device's stray or bad request gets, and what a
// stranger gets.
#include <gtest/gtest.h>

#include <atomic>

#include "app/config_file_hooks.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_routing.h"

using namespace testing_support;

namespace {

constexpr std::uint32_t kDevice = 0x0a000005;  // 10.0.0.5, booked
constexpr std::uint32_t kOther = 0x0a000006;   // 10.0.0.6, booked too, newer
constexpr std::uint32_t kStranger = 0x0a000007;
constexpr plat::Ipv4Endpoint kWake{plat::kLoopbackAddress, 40001};
constexpr plat::Ipv4Endpoint kReaderPeer{0x0a000010, 1001};
constexpr plat::Ipv4Endpoint kTransferPeer{0x0a000011, 1002};
constexpr plat::Ipv4Endpoint kDallyPeer{0x0a000012, 1003};

std::atomic<std::uint32_t> deviceAddress{kDevice};
std::atomic<std::uint32_t> otherAddress{kOther};
std::atomic<std::uint32_t> unknownAddress{0};

TftpBooking Booked(std::atomic<std::uint32_t>& address, bool backup) {
    auto booking = std::make_shared<TftpBookingRecord>();
    booking->Device = TftpDeviceAddressOf(address);
    booking->Hooks = TransferHooksTable{CheckFilename, backup ? nullptr : DownloadConfig,
                                        backup ? UploadConfig : nullptr, nullptr, nullptr};
    return booking;
}

struct Scene {
    bool transfers = true;  // the reader's and another transfer run (else only a dally)
    bool bookings = true;   // the two devices' backups wait
};

struct Row {
    const char* name;
    Scene scene;
    plat::Ipv4Endpoint from;
    Bytes datagram;
    int received;  // -1: a failed receive naming its sender; otherwise the datagram's length
    TftpRoute route;
    std::size_t index;
    int errorCode;
};

Bytes Wrq(std::string_view name, std::string_view mode = "octet") {
    return TftpRequest(2, name, mode);
}

}  // namespace

TEST(PortRouting, EachDatagramGoesWhereTheRulesSay) {
    const Bytes wrq = Wrq("upload-image");
    const Row rows[] = {
        {"the owner's wake-up", {}, kWake, {}, 0, TftpRoute::Wake, 0, 0},
        {"the reader's own peer", {}, kReaderPeer, TftpAck(1), 4, TftpRoute::Mine, 0, 0},
        {"another transfer's peer", {}, kTransferPeer, TftpAck(2), 4, TftpRoute::Mail, 1, 0},
        {"a dallying transfer's peer", {}, kDallyPeer, TftpData(9, "x"), 5, TftpRoute::Mail, 2, 0},
        {"an oversized datagram for another", {}, kTransferPeer, {}, -1, TftpRoute::Drop, 0, 0},
        {"the device's request", {}, {kDevice, 5000}, wrq, 0, TftpRoute::StartBooked, 0, 0},
        {"the newer booking's device", {}, {kOther, 5000}, wrq, 0, TftpRoute::StartBooked, 1, 0},
        {"the device's empty datagram", {}, {kDevice, 5000}, {}, 0, TftpRoute::NotARequest, 0, 0},
        {"the device's ACK", {}, {kDevice, 5000}, TftpAck(0), 4, TftpRoute::NotARequest, 0, 0},
        {"the device's 3 bytes",
         {},
         {kDevice, 5000},
         Bytes{0, 2, 'u'},
         3,
         TftpRoute::RefuseRequest,
         0,
         4},
        {"the device's oversized request",
         {},
         {kDevice, 5000},
         Wrq(std::string(600, 'u')),
         0,
         TftpRoute::NotARequest,
         0,
         0},
        {"the device's failed receive", {}, {kDevice, 5000}, {}, -1, TftpRoute::NotARequest, 0, 0},
        {"the device asks for another file",
         {},
         {kDevice, 5000},
         Wrq("image"),
         0,
         TftpRoute::RefuseRequest,
         0,
         1},
        {"the device asks in netascii",
         {},
         {kDevice, 5000},
         Wrq("upload-image", "netascii"),
         0,
         TftpRoute::RefuseRequest,
         0,
         4},
        {"the device reads from a backup",
         {},
         {kDevice, 5000},
         TftpRequest(1, "image", "octet"),
         0,
         TftpRoute::RefuseRequest,
         0,
         2},
        {"a stranger's request", {}, {kStranger, 5000}, wrq, 0, TftpRoute::Foreign, 0, 0},
        {"a stranger's ACK while bookings wait",
         {},
         {kStranger, 5000},
         TftpAck(1),
         4,
         TftpRoute::Foreign,
         0,
         0},
        {"a stranger among transfers",
         {true, false},
         {kStranger, 5000},
         TftpAck(1),
         4,
         TftpRoute::UnknownPeer,
         0,
         0},
        {"a stranger among dallies",
         {false, false},
         {kStranger, 5000},
         TftpAck(1),
         4,
         TftpRoute::Drop,
         0,
         0},
        {"a stranger's request with nothing booked",
         {false, false},
         {kStranger, 5000},
         wrq,
         0,
         TftpRoute::Foreign,
         0,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TftpPortSlot reader, transfer, dally, run;
        reader.Peer = kReaderPeer;
        transfer.Peer = kTransferPeer;
        dally.Peer = kDallyPeer;
        dally.Dallying = true;
        run.RunReader = true;
        std::vector<TftpPortSlot*> slots{&reader, &transfer, &dally, &run};
        if (!row.scene.transfers) slots = {&dally, &run};
        std::vector<TftpBooking> bookings;
        if (row.scene.bookings)
            bookings = {Booked(deviceAddress, true), Booked(otherAddress, true),
                        Booked(unknownAddress, true)};
        const int received =
            row.received != 0 ? row.received : static_cast<int>(row.datagram.size());
        const TftpRouting routing =
            RouteTftpDatagram(slots, bookings, row.scene.transfers ? reader : run, kWake, row.from,
                              row.datagram, received);
        EXPECT_EQ(routing.route, row.route);
        if (row.route == TftpRoute::Mail || row.route == TftpRoute::StartBooked ||
            row.route == TftpRoute::RefuseRequest) {
            EXPECT_EQ(routing.index, row.index);
        }
        if (row.route == TftpRoute::RefuseRequest) {
            EXPECT_EQ(routing.errorCode, row.errorCode);
        }
    }
}
