// The floor under any lock-step transfer: a 516-byte datagram one way and a 4-byte one back,
// strictly in turn, over loopback between two processes (bench/compare_servers.sh runs both on
// one CPU, as it runs each server and its client).
//
//   udp_ping_pong --answer            prints "answering on 127.0.0.1:PORT", answers each
//                                     516-byte datagram with 4 bytes; ends on a 1-byte datagram
//                                     or after 10 s without one
//   udp_ping_pong --ask PORT COUNT    COUNT round trips; prints microseconds per round trip
//
// Every wait is bounded (2 s); a lost datagram ends the run with exit code 2.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/net.h"

namespace {

constexpr int kWaitMs = 2000;

int Answer() {
    const plat::SocketHandle socket = plat::UdpOpen();
    plat::SocketBind(socket, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::Ipv4Endpoint local{};
    plat::SocketLocalAddress(socket, &local);
    std::printf("answering on 127.0.0.1:%u\n", local.port);
    std::fflush(stdout);
    std::vector<std::uint8_t> area(600);
    const std::vector<std::uint8_t> ack{0, 4, 0, 1};
    for (;;) {
        plat::Ipv4Endpoint from{};
        const int n = plat::SocketRecvFrom(socket, area, &from, 10000);
        if (n <= 1) break;
        plat::SocketSendTo(socket, ack, from);
    }
    plat::SocketClose(socket);
    return 0;
}

int Ask(std::uint16_t port, long count) {
    const plat::SocketHandle socket = plat::UdpOpen();
    plat::SocketBind(socket, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    const plat::Ipv4Endpoint peer{plat::kLoopbackAddress, port};
    std::vector<std::uint8_t> data(516, 'x');
    std::vector<std::uint8_t> area(600);
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        plat::SocketSendTo(socket, data, peer);
        plat::Ipv4Endpoint from{};
        if (plat::SocketRecvFrom(socket, area, &from, kWaitMs) != 4) {
            result = 2;
            break;
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    plat::SocketSendTo(socket, std::vector<std::uint8_t>{0}, peer);  // ends the answerer
    plat::SocketClose(socket);
    if (result != 0) {
        std::fprintf(stderr, "a datagram was lost\n");
        return result;
    }
    std::printf("%.3f\n", std::chrono::duration<double, std::micro>(elapsed).count() /
                              static_cast<double>(count));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    plat::NetStartup();
    int result = 1;
    if (argc == 2 && std::string_view(argv[1]) == "--answer")
        result = Answer();
    else if (argc == 4 && std::string_view(argv[1]) == "--ask")
        result = Ask(static_cast<std::uint16_t>(std::strtol(argv[2], nullptr, 10)),
                     std::strtol(argv[3], nullptr, 10));
    else
        std::fprintf(stderr, "usage: udp_ping_pong --answer | --ask PORT COUNT\n");
    plat::NetCleanup();
    return result;
}
