// The device's CLI commands, one HTTP/1.0 GET each, with Basic credentials.
//
// Contract: any thread; the settings are only read, and each call reports through the thread's
// hooks (ActiveTransferHooks). Each call opens its own connection and closes it (and releases
// its socket-library start-up) before it returns, on every path. Results: 1 the command ended as
// done (the device closed the connection, or the reply failed, stayed silent for
// DeviceSettings.CommandIdleTimeoutMs or was still open after DeviceSettings.CommandDeadlineMs,
// which are reported as ERR_RECEIVE), 0 failure, already reported through ReportError or printed.
// The credentials count as refused when the reply holds "unauthorized" in any letter case, or
// when its status line carries the status 401.
#pragma once

#include <atomic>
#include <cstdint>

enum CommandKind : int {
    CMD_REBOOT = 1,
    CMD_LIST_CHANGES = 2,
    CMD_INITIALIZE_FACTORY = 5,
    CMD_EXECUTE = 6,
};

// `requestTemplate`'s "%s" placeholders take the arguments of `kind`, in order: the encoded
// credentials (REBOOT, INITIALIZE FACTORY); the file name, our dotted TFTP address
// (DeviceSettings.TftpAddress, else the local address of the connection) and the encoded
// credentials (LIST CHANGES, EXECUTE).
int SendCliCommand(const char* host, const char* userName, const char* password,
                   const char* requestTemplate, int kind);

// How a command that counts as done came to its end, for callers that must tell the device's own
// end from ours: a command we cut off may still be at work on the device. The deadline is the
// monotonic time (plat::MonotonicMs) at which DeviceSettings.CommandDeadlineMs ran out for this
// command, 0 when it had none; a caller bounds what follows the command (its transfer) by it.
enum class CommandEnding {
    NotSent,          // failed before the request went out, or the credentials were refused
    DeviceClosed,     // the device closed the connection: the command is over on its side
    ReceiveFailed,    // the read failed or the connection was reset
    IdleTimeout,      // we closed it: silent for DeviceSettings.CommandIdleTimeoutMs
    DeadlineReached,  // we closed it: still open when DeviceSettings.CommandDeadlineMs ran out
    ReplyTooLong,     // we closed it: the reply ran past what a command's answer can be
};
struct CommandEnd {
    CommandEnding how = CommandEnding::NotSent;
    std::uint64_t deadlineAtMs = 0;
};
// True when the connection was closed by us while the device still held it open.
bool EndedByUs(CommandEnding how);
// "the idle time-out (10 s)", "the command time-out (600 s)", ...: which of our limits ended it.
const char* EndingText(CommandEnding how);

// One device command with the caller's own host and credentials: the command's row of the
// request table; the address the device's TFTP requests are to come from goes into *reached
// before the request is sent (a TFTP booking reads it there). The two addresses (host byte
// order) are this device's own; 0 takes DeviceSettings' (TftpAddress, DeviceTftpAddress), and
// 0 there takes the command connection's (ConnectToDevice).
struct DeviceCommandTarget {
    const char* host;
    const char* userName;
    const char* password;
    std::atomic<std::uint32_t>* reached;
    std::uint32_t tftpAddress = 0;        // the HOST the device is told to send to or fetch from
    std::uint32_t deviceTftpAddress = 0;  // the address its TFTP requests are taken from
    std::uint16_t httpPort = 0;           // its web port; 0: DeviceSettings.Port
};
// `end`, when given, learns how the command ended (whatever the result).
int SendDeviceCommand(const DeviceCommandTarget& target, int kind, CommandEnd* end = nullptr);
// These four take host and credentials from ConnectionSettings.
int SendRebootCommand();
int SendFactoryResetCommand();
int SendExecuteCommand();
int SendListChangesCommand();
int SendExecuteCommand(CommandEnd* end);
int SendListChangesCommand(CommandEnd* end);
