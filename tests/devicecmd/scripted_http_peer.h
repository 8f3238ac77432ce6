// A scripted web server on 127.0.0.1 for the command channel's tests: it accepts connections,
// records what each one sent, replies with the given chunks (pausing between them so that each
// arrives in a read of its own), and then closes, stalls or resets the connection.
//
// Contract: constructed and finished on the test's thread; serves on a thread of its own. It
// holds one socket-library start-up and its sockets until Finish() (or the destructor) has
// waited for that thread, so tests check for leaks only after Finish().
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

struct PeerScript {
    enum class Ending {
        Close,  // close after the last chunk
        Stall,  // keep the connection open until the client closes it (or StallLimitMs)
        Reset,  // close with the request unread, which resets the connection
    };
    std::vector<std::string> Chunks;
    // When not empty: connection i is answered with this one reply instead of Chunks (and
    // Connections is taken as its size).
    std::vector<std::string> RepliesPerConnection;
    int PauseMs = 100;
    Ending End = Ending::Close;
    int StallLimitMs = 20000;
    int Connections = 1;  // how many connections to serve, one after another
    // > 0: accept, then neither read nor write for this long before closing. For tests that
    // arm failure injection of Send or Recv, which is process-wide and would hit the peer too.
    int PassiveMs = 0;
};

class ScriptedHttpPeer {
  public:
    explicit ScriptedHttpPeer(PeerScript script);
    ~ScriptedHttpPeer();
    ScriptedHttpPeer(const ScriptedHttpPeer&) = delete;
    ScriptedHttpPeer& operator=(const ScriptedHttpPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    // Waits until every connection has been served (or none came within a few seconds) and
    // closes the listening socket.
    void Finish();
    // The bytes received on each connection, in order; call after Finish().
    std::vector<std::string> Requests() const;

  private:
    void Run();
    void ServeOne(plat::SocketHandle c);

    PeerScript script_;
    plat::SocketHandle listener_ = plat::kNoSocket;
    std::uint16_t port_ = 0;
    bool finished_ = false;
    std::thread thread_;  // joined by Finish()
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
};
