// A scripted TFTP client for the tests: a UDP socket on 127.0.0.1 (through platform/net.h, so the
// same tests run against any platform implementation) that sends given datagrams, records what
// it receives, and can run whole transfers with chosen packets dropped or duplicated.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net.h"

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

struct PeerDatagram {
    Bytes bytes;
    plat::Ipv4Endpoint from{};
    std::uint16_t Opcode() const;
    std::uint16_t Field() const;  // block number or error code
    std::string Payload() const;  // DATA bytes, or an ERROR's message
};

Bytes TftpRequest(std::uint16_t opcode, std::string_view name, std::string_view mode);
Bytes TftpData(std::uint16_t block, std::string_view payload);
Bytes TftpAck(std::uint16_t block);
Bytes TftpError(std::uint16_t code, std::string_view message);

// Which packets a scripted transfer treats specially, by block number.
struct PeerScript {
    std::set<int> dropOnce;   // not sent the first time (an ACK on a read, a DATA on a write)
    std::set<int> duplicate;  // sent twice in a row
    int silenceMs = 3000;     // the peer gives up after this long without a datagram
};

struct PeerTransfer {
    bool complete = false;
    std::string data;                 // the text received (read)
    std::vector<std::size_t> blocks;  // data length of each new DATA block received (read)
    int dataPackets = 0;              // every DATA packet received, repeats included (read)
    std::vector<int> acks;            // every ACK received, in order (write)
};

class TftpTestPeer {
  public:
    explicit TftpTestPeer(std::uint16_t serverPort);
    ~TftpTestPeer();
    TftpTestPeer(const TftpTestPeer&) = delete;
    TftpTestPeer& operator=(const TftpTestPeer&) = delete;

    plat::Ipv4Endpoint Server() const { return server_; }
    plat::Ipv4Endpoint Local() const { return local_; }

    void Send(const Bytes& datagram);
    void SendTo(plat::Ipv4Endpoint to, const Bytes& datagram);
    // The next datagram within timeoutMs (recorded in Received()), or nothing.
    std::optional<PeerDatagram> Receive(int timeoutMs);
    const std::vector<PeerDatagram>& Received() const { return received_; }

    // A whole read of `name` in mode octet: a new block is ACKed, and so is every repeat of the
    // last block (as a client does whose ACK may have been lost).
    PeerTransfer Get(std::string_view name, const PeerScript& script = {});
    // A whole write of `text` as `name` in mode octet: DATA N goes out after ACK N-1; a repeated
    // ACK N-1 brings DATA N only when it was dropped.
    PeerTransfer Put(std::string_view name, std::string_view text, const PeerScript& script = {});

  private:
    plat::SocketHandle socket_ = plat::kNoSocket;
    plat::Ipv4Endpoint server_{};
    plat::Ipv4Endpoint local_{};
    std::vector<PeerDatagram> received_;
};

}  // namespace testing_support
