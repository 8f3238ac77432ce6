#include "sim/sim_tftp_client.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "sim/device_config_store.h"

namespace {

constexpr std::size_t kBlockSize = 512;
constexpr std::uint16_t kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5;

using Packet = std::vector<std::uint8_t>;

void PutU16(Packet& p, std::size_t at, std::uint16_t v) {
    p[at] = static_cast<std::uint8_t>(v >> 8);
    p[at + 1] = static_cast<std::uint8_t>(v & 0xff);
}

void PutText(Packet& p, std::size_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) p[at + i] = static_cast<std::uint8_t>(text[i]);
}

std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// opcode, file name, zero, mode, zero.
Packet Request(std::uint16_t opcode, std::string_view fileName) {
    constexpr std::string_view kMode = "octet";
    Packet p(2 + fileName.size() + 1 + kMode.size() + 1, 0);
    PutU16(p, 0, opcode);
    PutText(p, 2, fileName);
    PutText(p, 2 + fileName.size() + 1, kMode);
    return p;
}

Packet Data(std::uint16_t block, std::string_view bytes) {
    Packet p(4 + bytes.size(), 0);
    PutU16(p, 0, kData);
    PutU16(p, 2, block);
    PutText(p, 4, bytes);
    return p;
}

Packet Ack(std::uint16_t block) {
    Packet p(4, 0);
    PutU16(p, 0, kAck);
    PutU16(p, 2, block);
    return p;
}

// One transfer's socket, with the packet faults applied on the way out and on the way in.
class Transfer {
  public:
    Transfer(plat::Ipv4Endpoint server, const SimTftpOptions& options)
        : server_(server), options_(options) {
        started_ = plat::NetStartup() == 0;
        if (started_) socket_ = plat::UdpOpen();
        if (socket_ != plat::kNoSocket && !plat::SocketBind(socket_, {options.LocalAddress, 0})) {
            plat::SocketClose(socket_);
            socket_ = plat::kNoSocket;
        }
    }
    ~Transfer() {
        plat::SocketClose(socket_);
        if (started_) plat::NetCleanup();
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool IsOpen() const { return socket_ != plat::kNoSocket; }
    bool HeardFromServer() const { return peerPort_ != 0; }
    bool IsSilent() const { return silent_; }

    // Sends (or, by the faults, drops, doubles or withholds) the packet and keeps it for a
    // retransmission. False when the send itself fails.
    bool Send(const Packet& p) {
        last_ = p;
        return SendLast();
    }
    bool SendLast() {
        const int index = sent_++;
        if (options_.SilentAfterSent >= 0 && index >= options_.SilentAfterSent) silent_ = true;
        if (silent_ || options_.DropSent.count(index)) return true;
        if (options_.PacketDelayMs > 0) plat::SleepMs(options_.PacketDelayMs);
        const int copies = options_.DuplicateSent.count(index) ? 2 : 1;
        for (int i = 0; i < copies; ++i)
            if (plat::SocketSendTo(socket_, last_, Peer()) != static_cast<int>(last_.size()))
                return false;
        return true;
    }

    // Waits up to waitMs for a packet from the server; its length, 0 for nothing in time, -1 for
    // a failed receive. The first reply fixes the server's port.
    int Receive(std::array<std::uint8_t, 4 + kBlockSize>& buffer, int waitMs) {
        const std::uint64_t deadline = plat::MonotonicMs() + static_cast<std::uint64_t>(waitMs);
        for (;;) {
            const std::uint64_t now = plat::MonotonicMs();
            if (now >= deadline) return 0;
            plat::Ipv4Endpoint from{};
            const int n =
                plat::SocketRecvFrom(socket_, buffer, &from, static_cast<int>(deadline - now));
            if (n == plat::kTimedOut) return 0;
            if (n < 0) return -1;
            if (from.address != server_.address) continue;
            if (peerPort_ != 0 && from.port != peerPort_) continue;
            if (options_.DropReceived.count(received_++)) continue;
            if (silent_ || n < 4) continue;
            peerPort_ = from.port;
            return n;
        }
    }

  private:
    plat::Ipv4Endpoint Peer() const {
        return {server_.address, peerPort_ ? peerPort_ : server_.port};
    }

    plat::Ipv4Endpoint server_;
    const SimTftpOptions& options_;
    bool started_ = false;
    plat::SocketHandle socket_ = plat::kNoSocket;
    std::uint16_t peerPort_ = 0;
    Packet last_;
    int sent_ = 0;
    int received_ = 0;
    bool silent_ = false;
};

SimTftpResult Failed(std::string detail) {
    return {false, std::move(detail)};
}

std::string PeerError(const std::uint8_t* p, int n) {
    std::string text = "error " + std::to_string(GetU16(p + 2));
    std::string message;
    for (int i = 4; i < n && p[i] != 0; ++i) message += static_cast<char>(p[i]);
    if (!message.empty()) text += ": " + message;
    return text;
}

// Opens the transfer's socket and sends its request. False with the reason in *detail.
bool StartTransfer(Transfer& t, std::uint16_t opcode, std::string_view fileName,
                   std::string* detail) {
    if (!t.IsOpen()) {
        *detail = "no socket";
        return false;
    }
    if (!t.Send(Request(opcode, fileName))) {
        *detail = "send failed";
        return false;
    }
    return true;
}

// The server's next packet, or the end of the transfer: retransmits on silence, up to the limit.
// An ERROR packet from the server ends the transfer too. 0 means give up (the detail says why),
// -1 a failed receive or send, else the packet's length.
int NextReply(Transfer& t, std::array<std::uint8_t, 4 + kBlockSize>& buffer,
              const SimTftpOptions& options, int* retries, std::string* detail) {
    for (;;) {
        const int n = t.Receive(buffer, options.RetransmitMs);
        if (n < 0) {
            *detail = "receive failed";
            return -1;
        }
        if (n > 0 && GetU16(buffer.data()) == kError) {
            *detail = PeerError(buffer.data(), n);
            return 0;
        }
        if (n > 0) return n;
        if (++*retries > options.MaxRetransmits) {
            *detail = t.IsSilent() ? "went silent" : "no answer";
            return 0;
        }
        if (options.RequestOnce && !t.HeardFromServer()) continue;
        if (!t.SendLast()) {
            *detail = "send failed";
            return -1;
        }
    }
}

constexpr std::size_t kDownloadLimit = 16u << 20;

bool WriteScratch(const std::string& path, std::string_view bytes) {
    plat::FileRemove(path.c_str());
    const plat::FileHandle f = plat::FileCreate(path.c_str());
    if (f == plat::kNoFile) return false;
    const bool ok = plat::FileWrite(
        f, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), nullptr);
    plat::FileClose(f);
    return ok;
}


// One transfer by tftp-hpa's client. It ends with status 0 after an ERROR packet too, and says
// so on its output; any such word counts as a failure.
SimTftpResult ExternalTransfer(plat::Ipv4Endpoint server, std::string_view fileName,
                               std::string_view put, std::string* got,
                               const SimTftpOptions& options) {
    const std::string& scratch = options.ExternalClientScratch;
    std::vector<std::string> argv = {"tftp", "-m", "octet", plat::FormatIpv4(server.address),
                                     std::to_string(server.port), "-c"};
    if (got != nullptr) {
        plat::FileRemove(scratch.c_str());
        argv.insert(argv.end(), {"get", std::string(fileName), scratch});
    } else {
        if (!WriteScratch(scratch, put)) return {false, "scratch file not written"};
        argv.insert(argv.end(), {"put", scratch, std::string(fileName)});
    }
    std::string output;
    const int status = plat::RunProgram(argv, &output);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    if (status != 0 || output.find("rror") != std::string::npos ||
        output.find("timed out") != std::string::npos)
        return {false, "tftp: " + (output.empty() ? "status " + std::to_string(status) : output)};
    if (got != nullptr && !ReadFileText(scratch, got)) return {false, "scratch file not read"};
    return {true, got != nullptr ? "received " + std::to_string(got->size()) + " bytes"
                                 : "sent " + std::to_string(put.size()) + " bytes"};
}

}  // namespace

SimTftpResult SimTftpPut(plat::Ipv4Endpoint server, std::string_view fileName,
                         std::string_view bytes, const SimTftpOptions& options) {
    if (!options.ExternalClientScratch.empty())
        return ExternalTransfer(server, fileName, bytes, nullptr, options);
    Transfer t(server, options);
    std::string detail;
    if (!StartTransfer(t, kWrq, fileName, &detail)) return Failed(detail);

    // A text of n bytes goes in n / 512 + 1 blocks; the last one is short, maybe empty.
    const std::size_t blocks = bytes.size() / kBlockSize + 1;
    std::size_t acknowledged = 0;  // ACK 0 answers the request itself
    std::array<std::uint8_t, 4 + kBlockSize> buffer{};
    int retries = 0;
    for (;;) {
        const int n = NextReply(t, buffer, options, &retries, &detail);
        if (n <= 0) return Failed(detail);
        const std::uint16_t opcode = GetU16(buffer.data());
        if (opcode != kAck || GetU16(buffer.data() + 2) != static_cast<std::uint16_t>(acknowledged))
            continue;  // a repeated ACK is not answered (no second copy of a block on its account)
        if (acknowledged == blocks)
            return {true, "sent " + std::to_string(bytes.size()) + " bytes"};
        ++acknowledged;
        retries = 0;
        const std::string_view block = bytes.substr((acknowledged - 1) * kBlockSize, kBlockSize);
        if (!t.Send(Data(static_cast<std::uint16_t>(acknowledged), block)))
            return Failed("send failed");
    }
}

SimTftpResult SimTftpGet(plat::Ipv4Endpoint server, std::string_view fileName, std::string* bytes,
                         const SimTftpOptions& options) {
    bytes->clear();
    if (!options.ExternalClientScratch.empty())
        return ExternalTransfer(server, fileName, {}, bytes, options);
    Transfer t(server, options);
    std::string detail;
    if (!StartTransfer(t, kRrq, fileName, &detail)) return Failed(detail);

    std::uint16_t expected = 1;
    std::array<std::uint8_t, 4 + kBlockSize> buffer{};
    int retries = 0;
    for (;;) {
        const int n = NextReply(t, buffer, options, &retries, &detail);
        if (n <= 0) return Failed(detail);
        const std::uint16_t opcode = GetU16(buffer.data());
        if (opcode != kData) continue;
        const std::uint16_t block = GetU16(buffer.data() + 2);
        if (block == static_cast<std::uint16_t>(expected - 1) && expected > 1) {
            if (!t.SendLast()) return Failed("send failed");  // our ACK was lost: say it again
            continue;
        }
        if (block != expected) continue;
        bytes->append(buffer.begin() + 4, buffer.begin() + n);
        if (bytes->size() > kDownloadLimit) return Failed("file too large");
        retries = 0;
        if (!t.Send(Ack(block))) return Failed("send failed");
        if (static_cast<std::size_t>(n - 4) < kBlockSize) break;
        ++expected;
    }

    // Linger a little: if the last ACK was lost the server sends the last block again.
    const std::uint64_t end = plat::MonotonicMs() + static_cast<std::uint64_t>(options.DallyMs);
    for (std::uint64_t now = plat::MonotonicMs(); now < end; now = plat::MonotonicMs()) {
        const int n = t.Receive(buffer, static_cast<int>(end - now));
        if (n <= 0) break;
        if (GetU16(buffer.data()) == kData && GetU16(buffer.data() + 2) == expected) t.SendLast();
    }
    return {true, "received " + std::to_string(bytes->size()) + " bytes"};
}
