#include "app/config_file_hooks.h"

#include <cstring>
#include <string>
#include <string_view>

#include "app/backup_target.h"
#include "app/command_report.h"
#include "app/temporary_files.h"
#include "platform/dialog_toolkit.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "spine/transfer_names.h"

plat::FileHandle TargetFile = plat::kNoFile;

namespace {

constexpr std::string_view kTransferMode = "octet";
constexpr int kFullPacketLength = 516;

// The single-device path's write transfer (server thread only).
BackupFileWriter singleDevice{TargetFile, {}, {}};

void ReplaceImage(std::uint8_t* data, std::uint32_t size) {
    std::lock_guard lock(SharedRecordLock);
    delete[] FileImage.Data;
    FileImage.Data = data;
    FileImage.Size = size;
}

// Finds the zero that ends the text starting at `from`, looking only before `end`.
const std::uint8_t* FindZero(const std::uint8_t* from, const std::uint8_t* end) {
    const void* zero = std::memchr(from, 0, static_cast<std::size_t>(end - from));
    return static_cast<const std::uint8_t*>(zero);
}

std::string_view TextBetween(const std::uint8_t* from, const std::uint8_t* to) {
    return std::string_view(reinterpret_cast<const char*>(from),
                            static_cast<std::size_t>(to - from));
}

int RefuseRequest(const char* reason, int line) {
    plat::Log(reason, "CheckFilename", line);
    return 0;
}

// Closes and removes the temporary file, if any; the target is not touched.
void DiscardTemporary(BackupFileWriter& w) {
    if (w.file != plat::kNoFile) {
        plat::FileClose(w.file);
        w.file = plat::kNoFile;
    }
    if (!w.temporary.empty()) RemoveTemporaryFile(w.temporary);
    w.temporary.clear();
    w.target.clear();
    w.pending.clear();
}

// Writes out what is pending; false when the file did not take all of it.
bool WritePending(BackupFileWriter& w) {
    const bool whole = w.pending.empty() || plat::FileWrite(w.file, w.pending, nullptr);
    w.pending.clear();
    return whole;
}

// A failure already named (what stands where the backup goes) keeps its words; else the system's.
int StoreFailed(BackupFileWriter& w, const char* what, const char* step) {
    if (w.failure.Empty()) w.failure = FailureCause{w.target, step, plat::LastFileErrorText()};
    NoteFailureCause(w.failure);
    plat::Log("Could not %s \"%s\"; the previous file is left as it was.\n", what,
              w.target.c_str());
    DiscardTemporary(w);
    return 0;
}

bool OpenTemporary(BackupFileWriter& w, const std::string& targetPath) {
    DiscardTemporary(w);  // a transfer that never finished nor was abandoned
    // Behind a symbolic link the file it names is replaced, never the link; and only a regular
    // file is (the command checked before the device was asked, but the node may have changed).
    std::string why;
    if (!ResolveBackupTarget(targetPath, &w.target, &why, &w.failure)) {
        plat::Log("\"%s\": %s\n", targetPath.c_str(), why.c_str());
        w.target = targetPath;
        return false;
    }
    w.failure = {};
    w.temporary = w.target + kTemporarySuffix;
    plat::FileRemove(w.temporary.c_str());
    // The backup holds the device's passwords: the temporary file is private from the start,
    // or as open as the file it will replace.
    w.file = CreateTemporaryFile(w.temporary, w.target.c_str());
    w.pending.reserve(kBackupWriteChunk + 2 * 512);
    return w.file != plat::kNoFile;
}

}  // namespace

int LoadFileImage(const char* path) {
    plat::Log("Filename is \"%s\"\n", path);
    const plat::FileHandle file = plat::FileOpenRead(path);
    if (file == plat::kNoFile) {
        NoteFailureCause(FailureCause{path, "open", plat::LastFileErrorText()});
        plat::Log("Error in CreateFile() call\n");
        return 0;
    }
    std::uint64_t size = 0;
    if (!plat::FileSize(file, &size)) {
        NoteFailureCause(FailureCause{path, "size", plat::LastFileErrorText()});
        plat::Log("Error in GetFileSize() call\n");
        plat::FileClose(file);
        return 0;
    }
    if (size >= kImageSizeLimit) {
        NoteFailureCause(FailureCause{path, "read",
                                      std::to_string(size) + " bytes, and a restore file must be "
                                                             "under " +
                                          std::to_string(kImageSizeLimit)});
        plat::Log("The file is %llu bytes: a file of %llu bytes or more cannot be served.\n",
                  static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(kImageSizeLimit));
        plat::FileClose(file);
        return 0;
    }
    plat::Log("The file size is %d bytes\n", static_cast<int>(size));

    std::uint8_t* data = plat::AllocateBytes(static_cast<std::size_t>(size));
    const bool whole =
        data != nullptr &&
        plat::FileRead(file, std::span<std::uint8_t>(data, static_cast<std::size_t>(size))) ==
            static_cast<std::int64_t>(size);
    if (!whole) {
        const std::string why = data == nullptr ? "out of memory" : plat::LastFileErrorText();
        NoteFailureCause(FailureCause{path, "read", why});
    }
    plat::FileClose(file);
    if (!whole) {
        delete[] data;
        ReplaceImage(nullptr, 0);
        plat::Log("Error in ReadFile() call\n");
        return 0;
    }
    ReplaceImage(data, static_cast<std::uint32_t>(size));
    return 1;
}

int CheckFilename(const std::uint8_t* start, const std::uint8_t* end, int kind) {
    const std::uint8_t* nameEnd = FindZero(start, end);
    if (nameEnd == nullptr)
        return RefuseRequest("%s:%d - Could not find filename in request.\n", 338);
    const std::string_view name = TextBetween(start, nameEnd);
    if (kind == REQUEST_READ && name != kReadImageName)
        return RefuseRequest("%s:%d - Bad image name requested.\n", 346);
    if (kind == REQUEST_WRITE && name != kWriteImageName)
        return RefuseRequest("%s:%d - Bad image name requested.\n", 354);
    const std::uint8_t* modeStart = nameEnd + 1;
    const std::uint8_t* modeEnd = modeStart < end ? FindZero(modeStart, end) : nullptr;
    if (modeEnd == nullptr)
        return RefuseRequest("%s:%d - Could not find transfer mode in request.\n", 374);
    if (TextBetween(modeStart, modeEnd) != kTransferMode)
        return RefuseRequest("%s:%d - Bad transfer mode requested.\n", 378);
    return 1;
}

int DownloadConfig(std::uint8_t* destination, std::uint32_t* blockLength,
                   std::uint32_t* blockNumber, std::uint32_t blockSize) {
    TransferProgress progress{};
    {
        std::lock_guard lock(SharedRecordLock);
        if (FileImage.Data == nullptr) {
            plat::Log("%s:%d - FileImage.Data is NULL.\n", "DownloadConfig", 419);
            return 0;
        }
        const std::uint32_t supplied = *blockNumber;
        *blockNumber = supplied + 1;
        const std::uint64_t offset = std::uint64_t{supplied} * blockSize;
        std::uint32_t length = 0;
        if (offset + blockSize <= FileImage.Size)
            length = blockSize;
        else if (offset < FileImage.Size)
            length = static_cast<std::uint32_t>(FileImage.Size - offset);
        if (length > 0) std::memcpy(destination, FileImage.Data + offset, length);
        *blockLength = length;
        progress = TransferProgress{(supplied + 1) * blockSize, FileImage.Size};
    }
    RaiseStatus(STATUS_PROGRESS, &progress);
    return 1;
}

int StoreBackupBlock(BackupFileWriter& w, const std::string& targetPath,
                     const std::uint8_t* bytes, int count, std::uint32_t* written,
                     int packetLength, int blockNumber, void (*createFailed)()) {
    if (written != nullptr) *written = 0;
    if (packetLength == 0) {
        DiscardTemporary(w);
        return 1;
    }
    if (w.memory != nullptr) {
        if (blockNumber == 1) w.memory->clear();
        if (count > 0) w.memory->append(reinterpret_cast<const char*>(bytes),
                                        static_cast<std::size_t>(count));
        if (written != nullptr && count > 0) *written = static_cast<std::uint32_t>(count);
        return 1;
    }
    if (blockNumber == 1 && !OpenTemporary(w, targetPath)) {
        if (createFailed != nullptr) createFailed();
        return StoreFailed(w, "create a temporary file beside", "create");
    }
    if (w.file == plat::kNoFile) return 0;
    if (count > 0) w.pending.insert(w.pending.end(), bytes, bytes + count);
    const bool lastBlock = packetLength != kFullPacketLength;
    if ((lastBlock || w.pending.size() >= kBackupWriteChunk) && !WritePending(w))
        return StoreFailed(w, "write the backup for", "write");
    if (written != nullptr && count > 0) *written = static_cast<std::uint32_t>(count);
    if (!lastBlock) return 1;

    if (!plat::FileFlush(w.file)) return StoreFailed(w, "flush the backup for", "flush");
    plat::FileClose(w.file);
    w.file = plat::kNoFile;
    if (!ReplaceWithTemporaryFile(w.temporary, w.target))
        return StoreFailed(w, "replace", "rename");
    w.temporary.clear();
    w.target.clear();
    return 1;
}

FailureCause LastStoreFailure() { return singleDevice.failure; }

int UploadConfig(const std::uint8_t* bytes, int count, std::uint32_t* written, int packetLength,
                 int blockNumber) {
    if (blockNumber == 1) singleDevice.memory = CommandSettings.BackupText;
    const std::string target = blockNumber == 1 && packetLength != 0 ? GetTargetPath() : "";
    return StoreBackupBlock(singleDevice, target, bytes, count, written, packetLength,
                            blockNumber, [] { plat::Toolkit().SoundBeep(plat::kBeepInformation); });
}
