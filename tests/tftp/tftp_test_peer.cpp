#include "tests/tftp/tftp_test_peer.h"

#include <algorithm>

namespace testing_support {
namespace {

void Put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
}

void PutText(Bytes& out, std::string_view text) {
    for (const char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

}  // namespace

std::uint16_t PeerDatagram::Opcode() const {
    return bytes.size() < 2 ? 0 : static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}
std::uint16_t PeerDatagram::Field() const {
    return bytes.size() < 4 ? 0 : static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
}
std::string PeerDatagram::Payload() const {
    if (bytes.size() <= 4) return {};
    std::string text(bytes.begin() + 4, bytes.end());
    if (Opcode() == 5) text = text.substr(0, text.find('\0'));
    return text;
}

Bytes TftpRequest(std::uint16_t opcode, std::string_view name, std::string_view mode) {
    Bytes out;
    Put16(out, opcode);
    PutText(out, name);
    out.push_back(0);
    PutText(out, mode);
    out.push_back(0);
    return out;
}

Bytes TftpData(std::uint16_t block, std::string_view payload) {
    Bytes out;
    Put16(out, 3);
    Put16(out, block);
    PutText(out, payload);
    return out;
}

Bytes TftpAck(std::uint16_t block) {
    Bytes out;
    Put16(out, 4);
    Put16(out, block);
    return out;
}

Bytes TftpError(std::uint16_t code, std::string_view message) {
    Bytes out;
    Put16(out, 5);
    Put16(out, code);
    PutText(out, message);
    out.push_back(0);
    return out;
}

TftpTestPeer::TftpTestPeer(std::uint16_t serverPort) : server_{plat::kLoopbackAddress, serverPort} {
    plat::NetStartup();
    socket_ = plat::UdpOpen();
    plat::SocketBind(socket_, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::SocketLocalAddress(socket_, &local_);
}

TftpTestPeer::~TftpTestPeer() {
    plat::SocketClose(socket_);
    plat::NetCleanup();
}

void TftpTestPeer::Send(const Bytes& datagram) {
    SendTo(server_, datagram);
}

void TftpTestPeer::SendTo(plat::Ipv4Endpoint to, const Bytes& datagram) {
    plat::SocketSendTo(socket_, datagram, to);
}

std::optional<PeerDatagram> TftpTestPeer::Receive(int timeoutMs) {
    Bytes area(65536);
    PeerDatagram d;
    const int n = plat::SocketRecvFrom(socket_, area, &d.from, timeoutMs);
    if (n < 0) return std::nullopt;
    d.bytes.assign(area.begin(), area.begin() + n);
    received_.push_back(d);
    return d;
}

PeerTransfer TftpTestPeer::Get(std::string_view name, const PeerScript& script) {
    PeerTransfer result;
    std::set<int> dropOnce = script.dropOnce;
    Send(TftpRequest(1, name, "octet"));
    int expected = 1;
    bool lastReceived = false;
    for (;;) {
        const auto d = Receive(script.silenceMs);
        if (!d || d->Opcode() != 3) return result;
        ++result.dataPackets;
        const int block = d->Field();
        if (block == expected) {
            const std::string payload = d->Payload();
            result.data += payload;
            result.blocks.push_back(payload.size());
            lastReceived = payload.size() < 512;
            ++expected;
        } else if (block != expected - 1) {
            continue;  // neither new nor a repeat of the last block
        }
        if (dropOnce.erase(block) != 0) continue;
        Send(TftpAck(static_cast<std::uint16_t>(block)));
        if (script.duplicate.count(block) != 0) Send(TftpAck(static_cast<std::uint16_t>(block)));
        if (lastReceived && block == expected - 1) {
            result.complete = true;
            return result;
        }
    }
}

PeerTransfer TftpTestPeer::Put(std::string_view name, std::string_view text,
                               const PeerScript& script) {
    PeerTransfer result;
    std::set<int> dropOnce = script.dropOnce;
    std::set<int> sent;
    const int blocks = static_cast<int>(text.size() / 512) + 1;
    const auto sendBlock = [&](int block) {
        const std::size_t offset = static_cast<std::size_t>(block - 1) * 512;
        const Bytes data =
            TftpData(static_cast<std::uint16_t>(block),
                     text.substr(offset, std::min<std::size_t>(512, text.size() - offset)));
        if (dropOnce.erase(block) != 0) return;
        Send(data);
        sent.insert(block);
        if (script.duplicate.count(block) != 0) Send(data);
    };
    Send(TftpRequest(2, name, "octet"));
    int acked = -1;
    while (acked < blocks) {
        const auto d = Receive(script.silenceMs);
        if (!d || d->Opcode() != 4) return result;
        const int ack = d->Field();
        result.acks.push_back(ack);
        if (ack == acked + 1) {
            acked = ack;
            if (acked < blocks) sendBlock(acked + 1);
        } else if (ack == acked && acked < blocks && sent.count(acked + 1) == 0) {
            sendBlock(acked + 1);  // the server is still waiting for a block we never sent
        }
    }
    result.complete = true;
    return result;
}

}  // namespace testing_support
