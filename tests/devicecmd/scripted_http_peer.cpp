#include "tests/devicecmd/scripted_http_peer.h"

#include <array>
#include <span>

#include "platform/threads.h"

namespace {

constexpr int kAcceptWaitMs = 10000;
constexpr int kRequestWaitMs = 5000;

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

ScriptedHttpPeer::ScriptedHttpPeer(PeerScript script) : script_(std::move(script)) {
    plat::NetStartup();
    listener_ = plat::TcpOpen();
    plat::SocketBind(listener_, {plat::kLoopbackAddress, 0});
    plat::SocketListen(listener_, 4);
    plat::Ipv4Endpoint local{};
    plat::SocketLocalAddress(listener_, &local);
    port_ = local.port;
    thread_ = std::thread(&ScriptedHttpPeer::Run, this);
}

ScriptedHttpPeer::~ScriptedHttpPeer() {
    Finish();
}

void ScriptedHttpPeer::Run() {
    const std::vector<std::string> chunks = script_.Chunks;
    if (!script_.RepliesPerConnection.empty())
        script_.Connections = static_cast<int>(script_.RepliesPerConnection.size());
    for (int i = 0; i < script_.Connections; ++i) {
        const plat::SocketHandle c = plat::SocketAccept(listener_, nullptr, kAcceptWaitMs);
        if (c == plat::kNoSocket) break;
        script_.Chunks = script_.RepliesPerConnection.empty()
                             ? chunks
                             : std::vector<std::string>{script_.RepliesPerConnection[i]};
        ServeOne(c);
        plat::SocketClose(c);
    }
}

void ScriptedHttpPeer::ServeOne(plat::SocketHandle c) {
    std::string received;
    std::array<std::uint8_t, 4096> buffer{};
    if (script_.PassiveMs > 0) {
        plat::SleepMs(script_.PassiveMs);
        return;
    }
    if (script_.End == PeerScript::Ending::Reset) {
        // Leave the request unread: closing then sends a reset instead of an orderly end.
        for (int i = 0; i < kRequestWaitMs / 10 && plat::SocketPending(c) <= 0; ++i)
            plat::SleepMs(10);
    } else {
        const std::uint64_t end = plat::MonotonicMs() + kRequestWaitMs;
        while (received.find("\r\n\r\n") == std::string::npos && plat::MonotonicMs() < end) {
            const int n = plat::SocketRecv(c, buffer, 100);
            if (n == 0 || n == plat::kSocketError) break;
            if (n > 0) received.append(buffer.begin(), buffer.begin() + n);
        }
    }
    {
        std::lock_guard lock(lock_);
        requests_.push_back(received);
    }
    for (std::size_t i = 0; i < script_.Chunks.size(); ++i) {
        if (i > 0) plat::SleepMs(script_.PauseMs);
        plat::SocketSend(c, Bytes(script_.Chunks[i]));
    }
    if (script_.End == PeerScript::Ending::Stall) {
        const std::uint64_t end =
            plat::MonotonicMs() + static_cast<std::uint64_t>(script_.StallLimitMs);
        while (plat::MonotonicMs() < end) {
            const int n = plat::SocketRecv(c, buffer, 100);
            if (n == 0 || n == plat::kSocketError) break;
        }
    }
}

void ScriptedHttpPeer::Finish() {
    if (finished_) return;
    finished_ = true;
    thread_.join();
    plat::SocketClose(listener_);
    plat::NetCleanup();
}

std::vector<std::string> ScriptedHttpPeer::Requests() const {
    std::lock_guard lock(lock_);
    return requests_;
}
