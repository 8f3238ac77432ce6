#include "tests/support/lossy_udp_relay.h"

#include <cstdio>
#include <optional>
#include <random>

#include "platform/threads.h"

namespace testing_support {

namespace {

// A receive waits this long when nothing is held back: Stop() wakes it with an empty datagram,
// so an idle relay costs (nearly) nothing, even hundreds of them at once in a soak run.
constexpr int kIdleWaitMs = 1000;
constexpr int kHoldMaxMs = 50;  // a held-back datagram goes out after this at the latest

std::uint16_t Field16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes.size() < at + 2 ? 0 : static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

const char* OpcodeName(std::uint16_t opcode) {
    static const char* const names[] = {"?", "RRQ", "WRQ", "DATA", "ACK", "ERROR", "OACK"};
    return opcode < 7 ? names[opcode] : "?";
}

}  // namespace

struct LossyUdpRelay::Direction {
    Direction(bool toServer_, RelayFaults faults_, std::uint32_t seed)
        : toServer(toServer_), faults(std::move(faults_)), random(seed) {}
    bool toServer;
    RelayFaults faults;
    std::mt19937 random;
    int position = 0;
    std::optional<std::vector<std::uint8_t>> held;
    std::uint64_t heldSinceMs = 0;
};

LossyUdpRelay::LossyUdpRelay(plat::Ipv4Endpoint server, RelayFaults toServer, RelayFaults toClient,
                             std::uint32_t seed)
    : server_(server) {
    plat::NetStartup();
    clientSocket_ = plat::UdpOpen();
    serverSocket_ = plat::UdpOpen();
    plat::SocketBind(clientSocket_, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::SocketBind(serverSocket_, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::SocketLocalAddress(clientSocket_, &clientSide_);
    plat::SocketLocalAddress(serverSocket_, &serverSide_);
    startMs_ = plat::MonotonicMs();
    directions_ = {new Direction(true, std::move(toServer), seed),
                   new Direction(false, std::move(toClient), seed * 7919u + 1u)};
    for (Direction* d : directions_) threads_.emplace_back([this, d] { Pump(*d); });
}

void LossyUdpRelay::Stop() {
    if (!stop_.exchange(true)) {
        plat::SocketSendTo(serverSocket_, {}, clientSide_);
        plat::SocketSendTo(clientSocket_, {}, serverSide_);
    }
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

LossyUdpRelay::~LossyUdpRelay() {
    Stop();
    for (Direction* d : directions_) delete d;
    plat::SocketClose(clientSocket_);
    plat::SocketClose(serverSocket_);
    plat::NetCleanup();
}

void LossyUdpRelay::Pump(Direction& d) {
    const plat::SocketHandle from = d.toServer ? clientSocket_ : serverSocket_;
    const plat::SocketHandle to = d.toServer ? serverSocket_ : clientSocket_;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<std::uint8_t> area(65536);
    const auto destination = [&] {
        std::lock_guard guard(lock_);
        return d.toServer ? server_ : client_;
    };
    const auto pass = [&](const std::vector<std::uint8_t>& bytes) {
        plat::SocketSendTo(to, bytes, destination());
    };
    for (;;) {
        plat::Ipv4Endpoint sender{};
        const bool stopping = stop_;
        int waitMs = kIdleWaitMs;
        if (stopping) {
            waitMs = 0;
        } else if (d.held) {
            const std::uint64_t heldMs = plat::MonotonicMs() - startMs_ - d.heldSinceMs;
            waitMs = heldMs >= kHoldMaxMs ? 0 : static_cast<int>(kHoldMaxMs - heldMs);
        }
        const int n = plat::SocketRecvFrom(from, area, &sender, waitMs);
        if (stopping && n < 0) break;
        if (n == 0 && stop_) continue;  // Stop()'s wake-up: pass on what is left, then end
        const std::uint64_t now = plat::MonotonicMs() - startMs_;
        if (n < 0) {
            if (d.held && now - d.heldSinceMs >= kHoldMaxMs) {
                pass(*d.held);
                d.held.reset();
            }
            continue;
        }
        std::vector<std::uint8_t> bytes(area.begin(), area.begin() + n);
        if (d.toServer) {
            std::lock_guard guard(lock_);
            client_ = sender;
        }
        const int position = ++d.position;
        // Every datagram draws all three chances, so a seed gives the same faults whatever the
        // chosen positions are.
        const bool randomDrop = chance(d.random) < d.faults.dropRate;
        const bool randomDuplicate = chance(d.random) < d.faults.duplicateRate;
        const bool randomReorder = chance(d.random) < d.faults.reorderRate;
        Fate fate = Fate::Passed;
        if (d.faults.drop.count(position) != 0 || randomDrop) {
            fate = Fate::Dropped;
        } else if (d.faults.duplicate.count(position) != 0 || randomDuplicate) {
            fate = Fate::Duplicated;
        } else if (!d.held && (d.faults.reorder.count(position) != 0 || randomReorder)) {
            fate = Fate::HeldBack;
        }
        {
            std::lock_guard guard(lock_);
            trace_.push_back(Record{d.toServer, now, Field16(bytes, 0), Field16(bytes, 2), fate});
        }
        if (fate == Fate::Dropped) continue;
        if (fate == Fate::HeldBack) {
            d.held = std::move(bytes);
            d.heldSinceMs = now;
            continue;
        }
        pass(bytes);
        if (fate == Fate::Duplicated) pass(bytes);
        if (d.held) {
            pass(*d.held);
            d.held.reset();
        }
    }
}

std::vector<LossyUdpRelay::Record> LossyUdpRelay::Trace() const {
    std::lock_guard guard(lock_);
    return trace_;
}

std::string LossyUdpRelay::TraceText() const {
    static const char* const fates[] = {"", " dropped", " duplicated", " held back"};
    std::string text;
    for (const Record& r : Trace()) {
        char line[96];
        std::snprintf(line, sizeof line, "%7llu ms %s %s %u%s\n",
                      static_cast<unsigned long long>(r.atMs), r.toServer ? "->" : "<-",
                      OpcodeName(r.opcode), static_cast<unsigned>(r.field),
                      fates[static_cast<int>(r.fate)]);
        text += line;
    }
    return text;
}

}  // namespace testing_support
