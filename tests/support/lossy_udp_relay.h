// A lossy UDP relay for the TFTP tests and the soak run: a client talks to Port() on 127.0.0.1
// as if it were the server; each datagram is passed on to the server (and the server's answers
// back to the client that spoke last), unless the relay's faults drop, duplicate or reorder it.
//
// Contract: the constructor opens two loopback sockets and starts one thread per direction; the
// destructor stops both threads and closes both sockets (so a test's socket counts balance once
// the relay is gone). Faults are chosen per direction, by the position of a datagram in that
// direction (1, 2, ...) or at random with a seeded generator, so a run can be repeated exactly.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace testing_support {

struct RelayFaults {
    std::set<int> drop;       // positions never passed on
    std::set<int> duplicate;  // positions passed on twice in a row
    std::set<int> reorder;    // positions held back and passed on after the next datagram
    double dropRate = 0;      // the same, at random, for the other datagrams
    double duplicateRate = 0;
    double reorderRate = 0;
};

class LossyUdpRelay {
  public:
    enum class Fate { Passed, Dropped, Duplicated, HeldBack };
    struct Record {
        bool toServer;
        std::uint64_t atMs;  // since the relay started
        std::uint16_t opcode;
        std::uint16_t field;  // block number or error code
        Fate fate;
    };

    LossyUdpRelay(plat::Ipv4Endpoint server, RelayFaults toServer, RelayFaults toClient,
                  std::uint32_t seed = 1);
    ~LossyUdpRelay();
    LossyUdpRelay(const LossyUdpRelay&) = delete;
    LossyUdpRelay& operator=(const LossyUdpRelay&) = delete;

    std::uint16_t Port() const { return clientSide_.port; }
    // Passes on what is already waiting, then stops both directions (the destructor does too).
    void Stop();
    std::vector<Record> Trace() const;
    // One line per datagram ("  812 ms -> DATA 3 dropped"), for failure messages and the soak.
    std::string TraceText() const;

  private:
    struct Direction;
    void Pump(Direction& direction);

    plat::SocketHandle clientSocket_ = plat::kNoSocket;  // faces the client
    plat::SocketHandle serverSocket_ = plat::kNoSocket;  // faces the server
    plat::Ipv4Endpoint clientSide_{};
    plat::Ipv4Endpoint serverSide_{};
    plat::Ipv4Endpoint server_{};
    std::uint64_t startMs_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    plat::Ipv4Endpoint client_{};  // the client that spoke last (under lock_)
    std::vector<Record> trace_;    // under lock_
    std::vector<Direction*> directions_;
    std::vector<std::thread> threads_;
};

}  // namespace testing_support
