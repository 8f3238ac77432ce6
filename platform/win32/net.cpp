// Winsock sockets behind platform/net.h.
//
// NetStartup/NetCleanup are real WSAStartup(1.1)/WSACleanup pairs. Besides them the
// layer holds one start-up of its own for the whole run (taken on first use, never released), so
// that helpers which open sockets without a NetStartup of their own (test peers, the simulator)
// work as they do on POSIX; the callers' pairs stay exactly as they make them.
#include "platform/net.h"

// Winsock first, the rest of the system after it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
// clang-format on

#include <chrono>

#include "platform/receive_timeouts.h"
#include "platform/win32/system_error_text.h"
#include "platform/test_hooks.h"

namespace plat {
namespace {

thread_local int lastError = 0;
// The error of the last failed look-up (WSAGetLastError), or kInjectedError.
thread_local int lastResolveError = 0;

constexpr WORD kWinsockVersion = MAKEWORD(1, 1);

void EnsureLibrary() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int Fail(int error) {
    lastError = error;
    WSASetLastError(error);
    return kSocketError;
}

int FailWithLast() {
    return Fail(WSAGetLastError());
}

SOCKET Raw(SocketHandle s) {
    return static_cast<SOCKET>(s);
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

// Waits until s is readable (or, with forWrite, writable or failed); 1 ready, 0 timed out, -1
// error. kWaitForever waits without a bound.
int WaitReady(SOCKET s, bool forWrite, int timeoutMs) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                           forWrite ? &failed : nullptr, timeoutMs == kWaitForever ? nullptr : &tv);
    if (r == SOCKET_ERROR) {
        lastError = WSAGetLastError();
        return -1;
    }
    if (r == 0) return 0;
    return 1;
}

bool IsTimeout(int error) {
    return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK;
}

SocketHandle Open(int type, int protocol) {
    if (ShouldFail(Op::SocketOpen)) {
        Fail(kInjectedError);
        return kNoSocket;
    }
    EnsureLibrary();
    const SOCKET s = ::socket(AF_INET, type, protocol);
    if (s == INVALID_SOCKET) {
        lastError = WSAGetLastError();
        return kNoSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (type == SOCK_DGRAM) {
        // A datagram sent to a closed port must not turn the next receive into a failure.
        BOOL report = FALSE;
        DWORD returned = 0;
        ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
                   nullptr);
    }
    ForgetRecvTimeouts(static_cast<SocketHandle>(s));
    CountOpenSockets(+1);
    return static_cast<SocketHandle>(s);
}

// Gives s the receive time-out us (0: none), in the whole milliseconds the system counts,
// unless the table says it has it already.
bool ApplyRecvTimeout(SocketHandle s, std::int64_t us) {
    const std::int64_t ms = (us + 999) / 1000;
    if (RecvTimeoutsOf(s).inForceUs == ms * 1000) return true;
    const DWORD value = static_cast<DWORD>(ms);
    if (::setsockopt(Raw(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                     sizeof value) == SOCKET_ERROR) {
        FailWithLast();
        NoteRecvTimeoutInForce(s, kUnknownRecvTimeout);
        return false;
    }
    NoteRecvTimeoutInForce(s, ms * 1000);
    return true;
}

}  // namespace

int NetStartup() {
    if (ShouldFail(Op::NetStartup)) {
        Fail(kInjectedError);
        return kInjectedError;
    }
    WSADATA data{};
    const int r = ::WSAStartup(kWinsockVersion, &data);
    if (r != 0) {
        Fail(r);
        return r;
    }
    CountNetStartups(+1);
    return 0;
}

void NetCleanup() {
    ::WSACleanup();
    CountNetStartups(-1);
}

SocketHandle UdpOpen() {
    return Open(SOCK_DGRAM, IPPROTO_UDP);
}
SocketHandle TcpOpen() {
    return Open(SOCK_STREAM, IPPROTO_TCP);
}

void SocketClose(SocketHandle s) {
    if (s == kNoSocket) return;
    ForgetRecvTimeouts(s);
    ::closesocket(Raw(s));
    CountOpenSockets(-1);
}

bool SocketBind(SocketHandle s, Ipv4Endpoint local) {
    if (ShouldFail(Op::Bind)) return Fail(kInjectedError), false;
    // Exclusive use, so that a second binder of the same port fails as it does elsewhere.
    BOOL exclusive = TRUE;
    ::setsockopt(Raw(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    const sockaddr_in a = ToSockaddr(local);
    if (::bind(Raw(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == SOCKET_ERROR) {
        FailWithLast();
        return false;
    }
    return true;
}

bool SocketConnect(SocketHandle s, Ipv4Endpoint remote, int timeoutMs) {
    if (ShouldFail(Op::Connect)) return Fail(kInjectedError), false;
    const SOCKET raw = Raw(s);
    const sockaddr_in a = ToSockaddr(remote);
    u_long nonBlocking = 1;
    ::ioctlsocket(raw, FIONBIO, &nonBlocking);
    bool connected = ::connect(raw, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    int error = connected ? 0 : WSAGetLastError();
    if (!connected && error == WSAEWOULDBLOCK) {
        const int ready = WaitReady(raw, true, timeoutMs);
        if (ready > 0) {
            int soError = 0;
            int len = sizeof soError;
            ::getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            error = soError;
            connected = soError == 0;
        } else {
            error = ready == 0 ? WSAETIMEDOUT : lastError;
        }
    }
    u_long blocking = 0;
    ::ioctlsocket(raw, FIONBIO, &blocking);
    if (!connected) Fail(error);
    return connected;
}

static bool SetTimeout(SocketHandle s, int option, int timeoutMs) {
    if (ShouldFail(Op::SetTimeout)) return Fail(kInjectedError), false;
    const DWORD value = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    if (::setsockopt(Raw(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                     sizeof value) == SOCKET_ERROR) {
        FailWithLast();
        if (option == SO_RCVTIMEO) NoteRecvTimeoutInForce(s, kUnknownRecvTimeout);
        return false;
    }
    if (option == SO_RCVTIMEO) NoteOwnRecvTimeout(s, std::int64_t{value} * 1000);
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
    const int n = ::send(Raw(s), reinterpret_cast<const char*>(bytes.data()),
                         static_cast<int>(bytes.size()), 0);
    if (n == SOCKET_ERROR) return FailWithLast();
    return n;
}

int SocketRecv(SocketHandle s, std::span<std::uint8_t> buffer, int timeoutMs) {
    if (ShouldFail(Op::Recv)) return Fail(kInjectedError);
    const SOCKET raw = Raw(s);
    if (timeoutMs != kWaitForever) {
        const int ready = WaitReady(raw, false, timeoutMs);
        if (ready < 0) return kSocketError;
        if (ready == 0) {
            lastError = WSAETIMEDOUT;
            return kTimedOut;
        }
    } else if (!ApplyRecvTimeout(s, RecvTimeoutsOf(s).ownUs)) {
        return kSocketError;  // a bounded datagram receive left its own wait in force
    }
    const int n =
        ::recv(raw, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (IsTimeout(error)) {
            lastError = WSAETIMEDOUT;
            return kTimedOut;
        }
        return Fail(error);
    }
    return n;
}

int SocketSendTo(SocketHandle s, std::span<const std::uint8_t> bytes, Ipv4Endpoint to) {
    if (ShouldFail(Op::SendTo)) return Fail(kInjectedError);
    const sockaddr_in a = ToSockaddr(to);
    const int n = ::sendto(Raw(s), reinterpret_cast<const char*>(bytes.data()),
                           static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&a),
                           sizeof a);
    if (n == SOCKET_ERROR) return FailWithLast();
    return n;
}

int SocketRecvFrom(SocketHandle s, std::span<std::uint8_t> buffer, Ipv4Endpoint* from,
                   int timeoutMs) {
    if (ShouldFail(Op::RecvFrom)) return Fail(kInjectedError);
    const SOCKET raw = Raw(s);
    // A bounded wait blocks in the receive itself, bounded by the socket's receive time-out,
    // which is set only when the wanted wait differs from the last one (posix/net.cpp says
    // why). A wait of 0 only looks whether a datagram is waiting; without a bound the owner's
    // own time-out is the one in force.
    if (timeoutMs == 0) {
        const int ready = WaitReady(raw, false, 0);
        if (ready < 0) return kSocketError;
        if (ready == 0) return kTimedOut;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = timeoutMs > 0 ? Clock::now() : Clock::time_point{};
    const std::int64_t boundUs = std::int64_t{timeoutMs} * 1000;
    std::int64_t waitUs = timeoutMs > 0 ? boundUs : RecvTimeoutsOf(s).ownUs;
    for (;;) {
        if (timeoutMs != 0 && !ApplyRecvTimeout(s, waitUs)) return kSocketError;
        sockaddr_in a{};
        int len = sizeof a;
        const int n = ::recvfrom(raw, reinterpret_cast<char*>(buffer.data()),
                                 static_cast<int>(buffer.size()), 0,
                                 reinterpret_cast<sockaddr*>(&a), &len);
        if (n != SOCKET_ERROR) {
            if (from) *from = FromSockaddr(a);
            return n;
        }
        const int error = WSAGetLastError();
        // A datagram longer than the buffer (WSAEMSGSIZE) is a failed receive like any other.
        if (error != WSAETIMEDOUT) {
            if (error == WSAEMSGSIZE && from) *from = FromSockaddr(a);
            return Fail(error);
        }
        if (timeoutMs <= 0) return kTimedOut;
        // The system's timer can end the time-out early; the rest of the wait is waited out.
        const std::int64_t waitedUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
        if (waitedUs >= boundUs) return kTimedOut;
        waitUs = boundUs - waitedUs;
    }
}

int SocketPending(SocketHandle s) {
    if (ShouldFail(Op::Pending)) return Fail(kInjectedError);
    u_long pending = 0;
    if (::ioctlsocket(Raw(s), FIONREAD, &pending) == SOCKET_ERROR) return FailWithLast();
    return static_cast<int>(pending);
}

bool SocketLocalAddress(SocketHandle s, Ipv4Endpoint* local) {
    if (ShouldFail(Op::LocalAddress)) return Fail(kInjectedError), false;
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(Raw(s), reinterpret_cast<sockaddr*>(&a), &len) == SOCKET_ERROR) {
        FailWithLast();
        return false;
    }
    *local = FromSockaddr(a);
    return true;
}

bool SocketPeerAddress(SocketHandle s, Ipv4Endpoint* peer) {
    if (ShouldFail(Op::PeerAddress)) return Fail(kInjectedError), false;
    sockaddr_in a{};
    int len = sizeof a;
    if (::getpeername(Raw(s), reinterpret_cast<sockaddr*>(&a), &len) == SOCKET_ERROR) {
        FailWithLast();
        return false;
    }
    *peer = FromSockaddr(a);
    return true;
}

bool SocketListen(SocketHandle s, int backlog) {
    if (::listen(Raw(s), backlog) == SOCKET_ERROR) {
        FailWithLast();
        return false;
    }
    return true;
}

SocketHandle SocketAccept(SocketHandle s, Ipv4Endpoint* from, int timeoutMs) {
    if (ShouldFail(Op::Accept)) return Fail(kInjectedError), kNoSocket;
    const SOCKET raw = Raw(s);
    if (timeoutMs != kWaitForever && WaitReady(raw, false, timeoutMs) <= 0) return kNoSocket;
    sockaddr_in a{};
    int len = sizeof a;
    const SOCKET c = ::accept(raw, reinterpret_cast<sockaddr*>(&a), &len);
    if (c == INVALID_SOCKET) {
        FailWithLast();
        return kNoSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
    InheritRecvTimeouts(s, static_cast<SocketHandle>(c));
    CountOpenSockets(+1);
    if (from) *from = FromSockaddr(a);
    return static_cast<SocketHandle>(c);
}

int LastSocketError() {
    return lastError;
}

void SetLastSocketError(int code) { lastError = code; }

SocketErrorKind ClassifySocketError(int code) {
    // A bind refused with WSAEACCES meets a socket that holds the port for its exclusive use.
    if (code == WSAEADDRINUSE || code == WSAEACCES) return SocketErrorKind::AddressInUse;
    return SocketErrorKind::Other;
}

std::string SocketErrorText(int code) {
    if (code == kInjectedError) return "failure injected by a test";
    return SystemErrorText(static_cast<unsigned long>(code));
}

bool ResolveIpv4(const char* host, std::uint32_t* address) {
    if (ShouldFail(Op::Resolve)) {
        lastResolveError = kInjectedError;
        return false;
    }
    EnsureLibrary();
    const unsigned long dotted = ::inet_addr(host);
    if (dotted != INADDR_NONE) {
        *address = ntohl(dotted);
        return true;
    }
    const hostent* entry = ::gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
        lastResolveError = entry == nullptr ? WSAGetLastError() : WSANO_DATA;
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(entry->h_addr_list[0]);
    *address = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    return true;
}

std::string LastResolveErrorText() { return SocketErrorText(lastResolveError); }

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string((address >> 24) & 0xff) + "." + std::to_string((address >> 16) & 0xff) +
           "." + std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace plat
