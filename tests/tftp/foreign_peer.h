// A host beside the device on the same network: a UDP socket on 127.0.0.9 aimed at the server's
// port, for the tests that check that the server talks to the device only.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "tests/tftp/tftp_test_peer.h"

namespace testing_support {

inline const Bytes kAccessViolation{0,   5,   0,   2,   'A', 'c', 'c', 'e', 's', 's', ' ',
                                    'v', 'i', 'o', 'l', 'a', 't', 'i', 'o', 'n', 0};

// Sends the given datagrams in turn, one every 10 ms, on a thread of its own from the moment it
// is made, and keeps every answer until Stop() returns them.
class ForeignPeer {
  public:
    ForeignPeer(std::uint16_t serverPort, std::vector<Bytes> datagrams)
        : socket_(plat::UdpOpen()), thread_([this, serverPort, datagrams] {
              plat::SocketBind(socket_, plat::Ipv4Endpoint{0x7f000009, 0});  // 127.0.0.9
              Bytes buffer(65536);
              for (std::size_t i = 0; running_; ++i) {
                  plat::SocketSendTo(socket_, datagrams[i % datagrams.size()],
                                     plat::Ipv4Endpoint{plat::kLoopbackAddress, serverPort});
                  plat::Ipv4Endpoint from{};
                  const int n = plat::SocketRecvFrom(socket_, buffer, &from, 10);
                  if (n < 0) continue;
                  std::lock_guard lock(lock_);
                  answers_.emplace_back(buffer.begin(), buffer.begin() + n);
              }
          }) {}
    ~ForeignPeer() {
        Stop();
        plat::SocketClose(socket_);
    }
    ForeignPeer(const ForeignPeer&) = delete;
    ForeignPeer& operator=(const ForeignPeer&) = delete;

    std::vector<Bytes> Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(lock_);
        return answers_;
    }

  private:
    plat::SocketHandle socket_;
    std::atomic<bool> running_{true};
    std::mutex lock_;
    std::vector<Bytes> answers_;
    std::thread thread_;  // last: starts once everything it uses exists
};

}  // namespace testing_support
