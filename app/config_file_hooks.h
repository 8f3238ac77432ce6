// The file work behind the TFTP server's hooks, and the loader that prepares a restore.
//
// Contract: LoadFileImage runs on the dialog's thread; CheckFilename, DownloadConfig and
// UploadConfig are registered in TransferHooks and run on the TFTP server thread. FileImage is
// replaced and read under SharedRecordLock; TargetPath is read through GetTargetPath().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "spine/failure_cause.h"

// 65535 blocks of 512 bytes: the largest file a TFTP transfer can carry is one byte less.
inline constexpr std::uint64_t kImageSizeLimit = 33553920;

// The open temporary file of a write transfer, from its first block to its last (kNoFile when
// none is open). Touched by UploadConfig only, on the server thread.
extern plat::FileHandle TargetFile;

// One write transfer's files: the temporary file beside the target while blocks arrive. The
// single-device path's writer keeps its file in TargetFile; a device backup job has its own.
// Touched only by the thread that serves the transfer.
// The converted text is gathered in `pending` and written in pieces of kBackupWriteChunk bytes or
// more, so that a transfer costs a write call per chunk rather than per block; whatever is
// pending is written before the file is flushed and renamed, and dropped with it when the
// transfer fails or is abandoned.
//
// A writer with `memory` set keeps the text in that string instead (the front end's standard
// output, a dry run, a read-back): block 1 empties it, every block is appended, and no file is
// touched; the string belongs to whoever set it and must outlive the transfer.
struct BackupFileWriter {
    plat::FileHandle& file;
    std::string target;
    std::string temporary;
    std::vector<std::uint8_t> pending = {};
    std::string* memory = nullptr;
    // Why the last text could not be stored: the target, the step ("create", "write", "flush",
    // "rename") and the system's words; empty until a store fails.
    FailureCause failure = {};
};
inline constexpr std::size_t kBackupWriteChunk = 64 * 1024;

// Reads the file whole into FileImage. 1 on success; 0 when it cannot be opened or sized, is
// kImageSizeLimit bytes or larger (FileImage unchanged), or cannot be read (FileImage emptied),
// with the cause noted for the command (NoteFailureCause).
int LoadFileImage(const char* path);
int CheckFilename(const std::uint8_t* start, const std::uint8_t* end, int kind);
int DownloadConfig(std::uint8_t* destination, std::uint32_t* blockLength,
                   std::uint32_t* blockNumber, std::uint32_t blockSize);
// The suffix of the temporary file a backup is written into, beside its target. A name of our own,
// so that a stale one left by a crash can be removed without touching anybody's file.
inline constexpr const char* kTemporarySuffix = ".morvane-part";

// Stores a write transfer: block 1 creates TargetPath + kTemporarySuffix, every block is appended, and the
// last one (packetLength not 516) is flushed and renamed over TargetPath. packetLength 0 abandons
// the transfer: the temporary file is closed and removed, TargetPath stays as it was. 1 when the
// bytes are stored or taken for a later write; 0 when the temporary file cannot be created (with
// the information beep), written, flushed or renamed; nothing is left open or behind then.
int UploadConfig(const std::uint8_t* bytes, int count, std::uint32_t* written, int packetLength,
                 int blockNumber);
// Why the single-device path's last write transfer could not be stored (see
// BackupFileWriter::failure); read once the transfer is over.
FailureCause LastStoreFailure();
// UploadConfig's work on the caller's writer: block 1 opens the temporary file beside
// `targetPath` (createFailed, when given, is called first if that fails). Any thread.
int StoreBackupBlock(BackupFileWriter& writer, const std::string& targetPath,
                     const std::uint8_t* bytes, int count, std::uint32_t* written,
                     int packetLength, int blockNumber, void (*createFailed)() = nullptr);
