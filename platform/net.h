// Sockets, as the portable core sees them.
//
// Contract: callable from any thread; each socket belongs to the one operation that opened it,
// which closes it on every path. No call throws and none blocks without a bound unless the caller
// passes kWaitForever. In test executables every operation here can be made to fail
// (fault_injection.h).
//
// Socket library start-up is paired: NetStartup() is the one-per-connection start-up of the
// original Winsock pairing (WSAStartup 1.1 on Windows, nothing on POSIX); every successful
// NetStartup() is matched by exactly one NetCleanup() after the socket it served is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace plat {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Results of the receive and send calls besides a byte count.
inline constexpr int kSocketError = -1;
inline constexpr int kTimedOut = -2;
inline constexpr int kWaitForever = -1;

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

inline constexpr std::uint32_t kAnyAddress = 0;           // INADDR_ANY
inline constexpr std::uint32_t kLoopbackAddress = 0x7f000001;

// Counted socket-library start-up. Returns 0 on success, else the library's error code.
int NetStartup();
void NetCleanup();

SocketHandle UdpOpen();
SocketHandle TcpOpen();
void SocketClose(SocketHandle s);

// Binds without address reuse, so a second binder of the same port fails.
bool SocketBind(SocketHandle s, Ipv4Endpoint local);
// Connects within timeoutMs (kWaitForever: the system's own limit).
bool SocketConnect(SocketHandle s, Ipv4Endpoint remote, int timeoutMs);
// Receive and send time-outs for later SocketSend/SocketRecv calls that pass kWaitForever.
bool SocketSetRecvTimeout(SocketHandle s, int timeoutMs);
bool SocketSetSendTimeout(SocketHandle s, int timeoutMs);

// Stream calls. SocketRecv returns bytes (>0), 0 when the peer closed, kSocketError or kTimedOut.
// timeoutMs bounds this one wait; kWaitForever leaves only the socket's own time-out.
int SocketSend(SocketHandle s, std::span<const std::uint8_t> bytes);
int SocketRecv(SocketHandle s, std::span<std::uint8_t> buffer, int timeoutMs);

// Datagram calls. A datagram longer than the buffer is a kSocketError (its bytes are discarded).
int SocketSendTo(SocketHandle s, std::span<const std::uint8_t> bytes, Ipv4Endpoint to);
int SocketRecvFrom(SocketHandle s, std::span<std::uint8_t> buffer, Ipv4Endpoint* from,
                   int timeoutMs);
// Bytes waiting to be received (FIONREAD), or -1.
int SocketPending(SocketHandle s);

bool SocketLocalAddress(SocketHandle s, Ipv4Endpoint* local);
// The address a connected socket reached.
bool SocketPeerAddress(SocketHandle s, Ipv4Endpoint* peer);

// Listening side, used by test peers and the simulator's tools.
bool SocketListen(SocketHandle s, int backlog);
SocketHandle SocketAccept(SocketHandle s, Ipv4Endpoint* from, int timeoutMs);

// The last socket error code of this thread (WSAGetLastError / errno); a failed NetStartup
// leaves its code here too.
int LastSocketError();
// Makes `code` this thread's last socket error: for a failure learnt from another thread.
void SetLastSocketError(int code);

// What a socket error code (LastSocketError) says about the port a socket was bound to.
enum class SocketErrorKind {
    AddressInUse,    // another socket, of this program or another, holds the port
    NeedsPrivilege,  // the port needs a privilege the process lacks
    Other,
};
SocketErrorKind ClassifySocketError(int code);
// The system's own words for a socket error code, one line without a final full stop.
std::string SocketErrorText(int code);

// Name to IPv4 address: a dotted-decimal text is converted without a look-up (the all-ones
// address is looked up as a name); anything else is looked up and the first address taken.
// A failure leaves its words for LastResolveErrorText.
bool ResolveIpv4(const char* host, std::uint32_t* address);
// The system's words for this thread's last failed ResolveIpv4 ("Name or service not known"), one
// line without a final full stop.
std::string LastResolveErrorText();
// Dotted-decimal text of an address in host byte order.
std::string FormatIpv4(std::uint32_t address);

}  // namespace plat
