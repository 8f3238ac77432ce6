// TransferHooks: the table through which the TFTP server fetches and stores file data and
// through which both network layers report back to the front end.
//
// Contract: RegisterTransferHooks fills all five slots once, at start-up, before any second
// thread exists; nothing changes them afterwards. The slots are called on the dialog's thread
// (command channel) and on the TFTP server thread; the bodies must never wait for the dialog's
// thread. ReportError is called without a test and must always be filled.
#pragma once

#include <cstdint>

// The `kind` that CheckFilename is given: which request names the file.
enum RequestKind : int {
    REQUEST_READ = 1,   // RRQ: the device fetches the image
    REQUEST_WRITE = 2,  // WRQ: the device sends its text
};

// start: first byte after the opcode; end: one past the last byte that may be examined;
// kind: a RequestKind. 1 when the request names the expected file in "octet".
using CheckFilenameHook = int (*)(const std::uint8_t* start, const std::uint8_t* end, int kind);
// Supplies the next block into destination (blockSize bytes of room). blockNumber counts blocks
// supplied so far (0 before the first) and is raised by one. 1 a block was supplied, 0 no image.
using DownloadConfigHook = int (*)(std::uint8_t* destination, std::uint32_t* blockLength,
                                   std::uint32_t* blockNumber, std::uint32_t blockSize);
// Appends count bytes of the block of DATA packet blockNumber (packetLength bytes with header);
// blockNumber 1 starts a new text, a packetLength other than 516 ends it and makes it the target.
// packetLength 0 means the transfer was abandoned after earlier blocks were handed on: what was
// stored so far is thrown away and the previous target stays as it was.
// Returns 1 when the bytes are stored, 0 when the target could not be created or written (the
// write transfer then answers ERROR 3 and fails).
using UploadConfigHook = int (*)(const std::uint8_t* bytes, int count, std::uint32_t* written,
                                 int packetLength, int blockNumber);
using ReportErrorHook = bool (*)(int code, const void* detail);
using ReportStatusHook = bool (*)(int code, const void* detail);

struct TransferHooksTable {
    CheckFilenameHook CheckFilename;
    DownloadConfigHook DownloadConfig;
    UploadConfigHook UploadConfig;
    ReportErrorHook ReportError;
    ReportStatusHook ReportStatus;
};

extern TransferHooksTable TransferHooks;

void RegisterTransferHooks(CheckFilenameHook checkFilename, DownloadConfigHook downloadConfig,
                           UploadConfigHook uploadConfig, ReportErrorHook reportError,
                           ReportStatusHook reportStatus);

// The table a thread uses, and the record its hooks work on. A thread that runs one device's
// work (a transfer taken for a booking, a device backup job) binds its own table for that work
// with ScopedTransferHooks; every other thread uses TransferHooks and no record. Thread-local:
// binding on one thread never changes what another thread sees.
const TransferHooksTable& ActiveTransferHooks();
void* ActiveTransferRecord();

// Binds `hooks` (which must stay alive and filled as TransferHooks is) and `record` to the
// calling thread for the scope's length; the binding before it comes back at the scope's end.
class ScopedTransferHooks {
  public:
    ScopedTransferHooks(const TransferHooksTable* hooks, void* record);
    ~ScopedTransferHooks();
    ScopedTransferHooks(const ScopedTransferHooks&) = delete;
    ScopedTransferHooks& operator=(const ScopedTransferHooks&) = delete;

  private:
    const TransferHooksTable* previousHooks_;
    void* previousRecord_;
};

// Convenience for the callers: ReportError / ReportStatus through the thread's table. ReportError's
// detail is null, a FailureCause (spine/failure_cause.h: RaiseFailure) or, for
// ERR_FOREIGN_TFTP_REQUEST, the story as a text.
bool RaiseError(int code);
bool RaiseStatus(int code, const void* detail = nullptr);
