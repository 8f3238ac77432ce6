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
#include <cstring>
#include <system_error>

#include "platform/test_hooks.h"

namespace plat {
namespace {

thread_local int lastError = 0;

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
    CountOpenSockets(+1);
    return fd;
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
    timeval tv{};
    if (timeoutMs > 0) {
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
    }
    if (::setsockopt(static_cast<int>(s), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        lastError = errno;
        return false;
    }
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
    // A bounded wait first takes what is already waiting, without blocking, and polls only
    // when nothing is: in a lock-step exchange the answer is often there already.
    bool waited = timeoutMs == kWaitForever;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    for (;;) {
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(),
                                     waited ? MSG_TRUNC : MSG_TRUNC | MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&a), &len);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const bool nothingWaiting = errno == EAGAIN || errno == EWOULDBLOCK;
            if (nothingWaiting && !waited) {
                waited = true;
                const int ready = WaitReady(fd, POLLIN, timeoutMs);
                if (ready < 0) return kSocketError;
                if (ready == 0) return kTimedOut;
                len = sizeof a;
                continue;
            }
            if (nothingWaiting) return kTimedOut;
            return Fail(errno);
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
    if (ShouldFail(Op::Resolve)) return false;
    const in_addr_t dotted = ::inet_addr(host);
    if (dotted != INADDR_NONE) {
        *address = ntohl(dotted);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &list) != 0 || list == nullptr) return false;
    const auto* first = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    *address = ntohl(first->sin_addr.s_addr);
    ::freeaddrinfo(list);
    return true;
}

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string((address >> 24) & 0xff) + "." + std::to_string((address >> 16) & 0xff) +
           "." + std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace plat
