// One TCP connection to the device's web port.
//
// Contract: any thread (the settings are only read). On success the caller owns the socket and one
// socket-library start-up, and must SocketClose then NetCleanup, once each, on every path
// (DeviceConnection below does both). On failure the cause has been reported through ReportError
// and printed, and nothing stays open. The port is the caller's (DeviceSettings.Port when 0) and
// the handshake is bounded by DeviceSettings.ConnectTimeoutMs; withTimeouts == 1 sets
// DeviceSettings.ProbeTimeoutMs as the receive and send time-out of the socket.
// On success the address the device's TFTP requests are taken from is in *reached (DeviceAddress,
// spine/shared_state.h, unless the caller names its own) before the socket is handed over: the
// caller's acceptFrom when not 0, else DeviceSettings.DeviceTftpAddress when not 0, else the
// address the connection reached.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/net.h"

plat::SocketHandle ConnectToDevice(const char* host, int withTimeouts,
                                   std::atomic<std::uint32_t>* reached = nullptr,
                                   std::uint32_t acceptFrom = 0, std::uint16_t port = 0);

// Holds what a successful ConnectToDevice handed over and gives it back when it goes out of
// scope: the socket is closed first, then the start-up is released. Holding kNoSocket does
// nothing.
class DeviceConnection {
  public:
    explicit DeviceConnection(plat::SocketHandle s) : socket_(s) {}
    ~DeviceConnection() {
        if (socket_ == plat::kNoSocket) return;
        plat::SocketClose(socket_);
        plat::NetCleanup();
    }
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    bool IsOpen() const { return socket_ != plat::kNoSocket; }
    plat::SocketHandle Socket() const { return socket_; }

  private:
    plat::SocketHandle socket_;
};
