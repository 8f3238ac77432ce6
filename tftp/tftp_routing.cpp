#include "tftp/tftp_routing.h"

#include <algorithm>

#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"

namespace {

bool IsRequest(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < 2) return false;
    const std::uint16_t opcode = TftpGet16(datagram.data());
    return opcode == TFTP_RRQ || opcode == TFTP_WRQ;
}

bool WantsDirection(const TftpBookingRecord& booking, std::span<const std::uint8_t> request) {
    return TftpGet16(request.data()) == TFTP_WRQ ? booking.Hooks.UploadConfig != nullptr
                                                 : booking.Hooks.DownloadConfig != nullptr;
}

// Rule 3 for a request from the booked device.
TftpRouting JudgeRequest(const TftpBookingRecord& booking, std::size_t index,
                         std::span<const std::uint8_t> request) {
    const bool write = TftpGet16(request.data()) == TFTP_WRQ;
    if (write && booking.Hooks.UploadConfig == nullptr)
        return {TftpRoute::RefuseRequest, index, TFTP_ERR_ACCESS_VIOLATION,
                "Write was recieved ... and failed."};
    if (!write && booking.Hooks.DownloadConfig == nullptr)
        return {TftpRoute::RefuseRequest, index, TFTP_ERR_ACCESS_VIOLATION,
                "Read received and rejected.\n"};
    const int kind = write ? REQUEST_WRITE : REQUEST_READ;
    if (booking.Hooks.CheckFilename != nullptr &&
        booking.Hooks.CheckFilename(request.data() + 2, request.data() + request.size(), kind) == 0)
        return {TftpRoute::RefuseRequest, index, TftpRefusalCode(request), nullptr};
    return {TftpRoute::StartBooked, index, 0, nullptr};
}

}  // namespace

TftpRouting RouteTftpDatagram(std::span<TftpPortSlot* const> slots,
                              std::span<const TftpBooking> bookings, const TftpPortSlot& reader,
                              plat::Ipv4Endpoint wakeFrom, plat::Ipv4Endpoint from,
                              std::span<const std::uint8_t> datagram, int received) {
    if (wakeFrom.port != 0 && from == wakeFrom) return {TftpRoute::Wake};
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const TftpPortSlot* slot = slots[i];
        if (slot->RunReader || !(slot->Peer == from)) continue;
        if (slot == &reader) return {TftpRoute::Mine, i};
        if (received < 0) return {TftpRoute::Drop};
        return {TftpRoute::Mail, i};
    }
    bool anyWaiting = false;
    std::size_t named = bookings.size();  // the newest waiting booking that names the sender
    for (std::size_t i = bookings.size(); i-- > 0;) {
        const TftpBookingRecord& booking = *bookings[i];
        if (booking.Now != TftpBookingRecord::State::Waiting) continue;
        anyWaiting = true;
        const std::uint32_t device = booking.Device != nullptr ? booking.Device->load() : 0;
        if (device == 0 || device != from.address) continue;
        if (received < 0 || !IsRequest(datagram) ||
            datagram.size() > static_cast<std::size_t>(kTftpPacketSize))
            return {TftpRoute::NotARequest, i};
        // A device with a backup and a restore booked at once: each request to the booking
        // that wants its direction.
        if (named == bookings.size()) named = i;
        if (WantsDirection(booking, datagram)) return JudgeRequest(booking, i, datagram);
    }
    if (named != bookings.size()) return JudgeRequest(*bookings[named], named, datagram);
    if (anyWaiting || (received >= 0 && IsRequest(datagram))) return {TftpRoute::Foreign};
    const bool anyRunning = std::any_of(slots.begin(), slots.end(), [](const auto* slot) {
        return !slot->RunReader && !slot->Dallying;
    });
    return {anyRunning ? TftpRoute::UnknownPeer : TftpRoute::Drop};
}
