// The numbered events that travel through the two reporting hooks.
#pragma once

#include <cstdint>

enum ErrorEvent : int {
    ERR_SOCKETS_SETUP = 1,
    ERR_TFTP_SOCKET = 2,
    ERR_BIND = 3,
    ERR_SOCKET_CLOSED = 4,
    ERR_READ_REQUEST = 5,
    ERR_CONNECT = 6,
    ERR_SEND = 7,
    ERR_RECEIVE = 8,
    ERR_RESOLVE = 9,
    ERR_CREDENTIALS = 10,
    // The device's transfer never came, and a request from another address was refused while
    // the command waited for it: most likely the device's own, sent from an address of its own.
    // Its detail, when given, is the whole story as a text (const char*, alive for the call).
    ERR_FOREIGN_TFTP_REQUEST = 11,
};

enum StatusEvent : int {
    STATUS_COMMAND_DONE = 1,
    STATUS_PROGRESS = 4,
    STATUS_SERVER_DONE = 5,
};

// Detail of STATUS_PROGRESS; lives only for the duration of the ReportStatus call.
struct TransferProgress {
    std::uint32_t Done;   // number of the block just supplied times the block size
    std::uint32_t Total;  // FileImage.Size
};
