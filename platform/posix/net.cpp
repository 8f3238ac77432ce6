// POSIX sockets behind platform/net.h.
#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "platform/receive_timeouts.h"
#include "platform/test_hooks.h"

namespace plat {
namespace {

thread_local int lastError = 0;
// The resolver's own code (EAI_...) of the last failed look-up; kInjectedError for an injected one.
// EAI_SYSTEM keeps errno below kResolveSystemError, apart from the (negative) EAI codes.
thread_local int lastResolveError = 0;
constexpr int kResolveSystemError = -100000;

int Fail(int error) {
    lastError = error;
    errno = error;
    return kSocketError;
}

sockaddr_in ToSockaddr(Ipv4Endpoint e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    a.sin_addr.s_addr = htonl(e.address);
    return a;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& a) {
    return Ipv4Endpoint{ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

// Waits until fd is ready for `events`; returns 1 ready, 0 timed out, -1 error.
int WaitReady(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) lastError = errno;
        return r < 0 ? -1 : (r == 0 ? 0 : 1);
    }
}

SocketHandle Open(int type, int protocol) {
    if (ShouldFail(Op::SocketOpen)) {
        Fail(kInjectedError);
        return kNoSocket;
    }
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        lastError = errno;
        return kNoSocket;
    }
    ForgetRecvTimeouts(fd);
    CountOpenSockets(+1);
    return fd;
}

timeval ToTimeval(std::int64_t us) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(us / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
    return tv;
}

// Waits up to this long are polled for; longer ones block in the receive (SocketRecvFrom).
constexpr int kShortestSocketWaitMs = 40;

// The receive time-out that ends no later than timeoutMs (> kShortestSocketWaitMs) on the
// system's timer: shorter by the timer's coarseness, an eighth of the wait and two ticks.
std::int64_t SocketWaitUs(int timeoutMs) {
    return (std::int64_t{timeoutMs} - timeoutMs / 8 - 25) * 1000;
}

// Gives fd the receive time-out us (0: none) unless the table says it has it already.
bool ApplyRecvTimeout(int fd, std::int64_t us) {
    if (RecvTimeoutsOf(fd).inForceUs == us) return true;
    const timeval tv = ToTimeval(us);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        lastError = errno;
        NoteRecvTimeoutInForce(fd, kUnknownRecvTimeout);
        return false;
    }
    NoteRecvTimeoutInForce(fd, us);
    return true;
}

}  // namespace

int NetStartup() {
    if (ShouldFail(Op::NetStartup)) {
        Fail(kInjectedError);
        return kInjectedError;
    }
    CountNetStartups(+1);
    return 0;
}

void NetCleanup() { CountNetStartups(-1); }

SocketHandle UdpOpen() { return Open(SOCK_DGRAM, IPPROTO_UDP); }
SocketHandle TcpOpen() { return Open(SOCK_STREAM, IPPROTO_TCP); }

void SocketClose(SocketHandle s) {
    if (s == kNoSocket) return;
    ForgetRecvTimeouts(s);
    ::close(static_cast<int>(s));
    CountOpenSockets(-1);
}

bool SocketBind(SocketHandle s, Ipv4Endpoint local) {
    if (ShouldFail(Op::Bind)) return Fail(kInjectedError), false;
    const sockaddr_in a = ToSockaddr(local);
    if (::bind(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        lastError = errno;
        return false;
    }
    return true;
}

bool SocketConnect(SocketHandle s, Ipv4Endpoint remote, int timeoutMs) {
    if (ShouldFail(Op::Connect)) return Fail(kInjectedError), false;
    const int fd = static_cast<int>(s);
    const sockaddr_in a = ToSockaddr(remote);
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r != 0 && errno == EINPROGRESS) {
        const int ready = WaitReady(fd, POLLOUT, timeoutMs);
        if (ready <= 0) {
            ::fcntl(fd, F_SETFL, flags);
            if (ready == 0) lastError = ETIMEDOUT;
            return false;
        }
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
        r = error == 0 ? 0 : -1;
        errno = error;
    }
    if (r != 0) lastError = errno;
    ::fcntl(fd, F_SETFL, flags);
    return r == 0;
}

static bool SetTimeout(SocketHandle s, int option, int timeoutMs) {
    if (ShouldFail(Op::SetTimeout)) return Fail(kInjectedError), false;
    const std::int64_t us = timeoutMs > 0 ? std::int64_t{timeoutMs} * 1000 : 0;
    const timeval tv = ToTimeval(us);
    if (::setsockopt(static_cast<int>(s), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        lastError = errno;
        if (option == SO_RCVTIMEO) NoteRecvTimeoutInForce(s, kUnknownRecvTimeout);
        return false;
    }
    if (option == SO_RCVTIMEO) NoteOwnRecvTimeout(s, us);
    return true;
}

bool SocketSetRecvTimeout(SocketHandle s, int timeoutMs) {
    return SetTimeout(s, SO_RCVTIMEO, timeoutMs);
}
bool SocketSetSendTimeout(SocketHandle s, int timeoutMs) {
    return SetTimeout(s, SO_SNDTIMEO, timeoutMs);
}

int SocketSend(SocketHandle s, std::span<const std::uint8_t> bytes) {
    if (ShouldFail(Op::Send)) return Fail(kInjectedError);
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(s), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(errno);
        return static_cast<int>(n);
    }
}

int SocketRecv(SocketHandle s, std::span<std::uint8_t> buffer, int timeoutMs) {
    if (ShouldFail(Op::Recv)) return Fail(kInjectedError);
    const int fd = static_cast<int>(s);
    if (timeoutMs != kWaitForever) {
        const int ready = WaitReady(fd, POLLIN, timeoutMs);
        if (ready < 0) return kSocketError;
        if (ready == 0) {
            lastError = ETIMEDOUT;
            return kTimedOut;
        }
    } else if (!ApplyRecvTimeout(fd, RecvTimeoutsOf(s).ownUs)) {
        return kSocketError;  // a bounded datagram receive left its own wait in force
    }
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                lastError = ETIMEDOUT;
                return kTimedOut;
            }
            return Fail(errno);
        }
        return static_cast<int>(n);
    }
}

int SocketSendTo(SocketHandle s, std::span<const std::uint8_t> bytes, Ipv4Endpoint to) {
    if (ShouldFail(Op::SendTo)) return Fail(kInjectedError);
    const sockaddr_in a = ToSockaddr(to);
    for (;;) {
        const ssize_t n = ::sendto(static_cast<int>(s), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(errno);
        return static_cast<int>(n);
    }
}

int SocketRecvFrom(SocketHandle s, std::span<std::uint8_t> buffer, Ipv4Endpoint* from,
                   int timeoutMs) {
    if (ShouldFail(Op::RecvFrom)) return Fail(kInjectedError);
    const int fd = static_cast<int>(s);
    // A wait of some length blocks in the receive itself, bounded by the socket's receive
    // time-out, which is set only when the wanted wait differs from the last one: one system call
    // per datagram, where a readiness wait and a receive after it take two, three when a first
    // look finds nothing yet. The system keeps that time-out on a coarse timer, which can end it
    // later than asked by up to an eighth of the wait and a tick or two; so it is set that much
    // shorter, and a wait that ends with nothing has its rest waited out with poll, which keeps
    // to the bound. A short wait (a deadline's last milliseconds) is polled for from the start,
    // after a first look. Without a bound the owner's own time-out is the one in force.
    using Clock = std::chrono::steady_clock;
    const bool blockInReceive = timeoutMs < 0 || timeoutMs > kShortestSocketWaitMs;
    const Clock::time_point started = timeoutMs > 0 ? Clock::now() : Clock::time_point{};
    if (blockInReceive &&
        !ApplyRecvTimeout(fd, timeoutMs < 0 ? RecvTimeoutsOf(s).ownUs : SocketWaitUs(timeoutMs)))
        return kSocketError;
    int flags = blockInReceive ? MSG_TRUNC : MSG_TRUNC | MSG_DONTWAIT;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    for (;;) {
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), flags,
                                     reinterpret_cast<sockaddr*>(&a), &len);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
            if (timeoutMs <= 0) return kTimedOut;  // nothing waiting, or the owner's time-out
            const std::int64_t leftUs =
                std::int64_t{timeoutMs} * 1000 -
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started)
                    .count();
            if (leftUs <= 0) return kTimedOut;
            const int ready = WaitReady(fd, POLLIN, static_cast<int>((leftUs + 999) / 1000));
            if (ready < 0) return kSocketError;
            if (ready == 0) return kTimedOut;
            flags = MSG_TRUNC | MSG_DONTWAIT;  // what poll saw may be taken by another receiver
            len = sizeof a;
            continue;
        }
        if (from) *from = FromSockaddr(a);
        if (static_cast<std::size_t>(n) > buffer.size()) return Fail(EMSGSIZE);
        return static_cast<int>(n);
    }
}

int SocketPending(SocketHandle s) {
    if (ShouldFail(Op::Pending)) return Fail(kInjectedError);
    int pending = 0;
    if (::ioctl(static_cast<int>(s), FIONREAD, &pending) != 0) return Fail(errno);
    return pending;
}

bool SocketLocalAddress(SocketHandle s, Ipv4Endpoint* local) {
    if (ShouldFail(Op::LocalAddress)) return Fail(kInjectedError), false;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        lastError = errno;
        return false;
    }
    *local = FromSockaddr(a);
    return true;
}

bool SocketPeerAddress(SocketHandle s, Ipv4Endpoint* peer) {
    if (ShouldFail(Op::PeerAddress)) return Fail(kInjectedError), false;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getpeername(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        lastError = errno;
        return false;
    }
    *peer = FromSockaddr(a);
    return true;
}

bool SocketListen(SocketHandle s, int backlog) {
    if (::listen(static_cast<int>(s), backlog) != 0) {
        lastError = errno;
        return false;
    }
    return true;
}

SocketHandle SocketAccept(SocketHandle s, Ipv4Endpoint* from, int timeoutMs) {
    if (ShouldFail(Op::Accept)) return Fail(kInjectedError), kNoSocket;
    const int fd = static_cast<int>(s);
    if (timeoutMs != kWaitForever && WaitReady(fd, POLLIN, timeoutMs) <= 0) return kNoSocket;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const int c = ::accept4(fd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (c < 0) {
        lastError = errno;
        return kNoSocket;
    }
    InheritRecvTimeouts(s, c);
    CountOpenSockets(+1);
    if (from) *from = FromSockaddr(a);
    return c;
}

int LastSocketError() { return lastError; }

void SetLastSocketError(int code) { lastError = code; }

SocketErrorKind ClassifySocketError(int code) {
    if (code == EADDRINUSE) return SocketErrorKind::AddressInUse;
    if (code == EACCES || code == EPERM) return SocketErrorKind::NeedsPrivilege;
    return SocketErrorKind::Other;
}

std::string SocketErrorText(int code) {
    if (code == kInjectedError) return "failure injected by a test";
    return std::generic_category().message(code);
}

bool ResolveIpv4(const char* host, std::uint32_t* address) {
    if (ShouldFail(Op::Resolve)) {
        lastResolveError = kInjectedError;
        return false;
    }
    const in_addr_t dotted = ::inet_addr(host);
    if (dotted != INADDR_NONE) {
        *address = ntohl(dotted);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int looked = ::getaddrinfo(host, nullptr, &hints, &list);
    if (looked != 0 || list == nullptr) {
        lastResolveError = looked == EAI_SYSTEM ? kResolveSystemError - errno : looked;
        if (list != nullptr) ::freeaddrinfo(list);
        return false;
    }
    const auto* first = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    *address = ntohl(first->sin_addr.s_addr);
    ::freeaddrinfo(list);
    return true;
}

std::string LastResolveErrorText() {
    if (lastResolveError == kInjectedError) return "failure injected by a test";
    if (lastResolveError <= kResolveSystemError)
        return std::generic_category().message(kResolveSystemError - lastResolveError);
    if (lastResolveError == 0) return "no address found";
    return ::gai_strerror(lastResolveError);
}

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string((address >> 24) & 0xff) + "." + std::to_string((address >> 16) & 0xff) +
           "." + std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace plat
