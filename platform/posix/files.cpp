// POSIX files behind platform/files.h.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/fault_injection.h"

namespace plat {

FileHandle FileOpenRead(const char* path) {
    if (ShouldFail(Op::FileOpenRead)) return kNoFile;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

static FileHandle Create(const char* path, int extra) {
    if (ShouldFail(Op::FileCreate)) return kNoFile;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | extra, 0644);
    return fd < 0 ? kNoFile : fd;
}

FileHandle FileCreate(const char* path) { return Create(path, O_TRUNC); }
FileHandle FileCreateNew(const char* path) { return Create(path, O_EXCL); }

bool FileSize(FileHandle f, std::uint64_t* size) {
    if (ShouldFail(Op::FileSize)) return false;
    struct stat st{};
    if (::fstat(static_cast<int>(f), &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::int64_t FileRead(FileHandle f, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileRead)) return -1;
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t n = ::read(static_cast<int>(f), buffer.data() + total, buffer.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(total);
}

bool FileWrite(FileHandle f, std::span<const std::uint8_t> bytes, std::uint32_t* written) {
    if (written) *written = 0;
    if (ShouldFail(Op::FileWrite)) return false;
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::write(static_cast<int>(f), bytes.data() + total, bytes.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    if (written) *written = static_cast<std::uint32_t>(total);
    return total == bytes.size();
}

bool FileFlush(FileHandle f) {
    if (ShouldFail(Op::FileFlush)) return false;
    return ::fsync(static_cast<int>(f)) == 0;
}

void FileClose(FileHandle f) {
    if (f != kNoFile) ::close(static_cast<int>(f));
}

bool FileReplace(const char* from, const char* to) {
    if (ShouldFail(Op::FileReplace)) return false;
    return std::rename(from, to) == 0;
}

bool FileRemove(const char* path) { return ::unlink(path) == 0; }

bool DirectoryExists(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const char* path) { return ::mkdir(path, 0700) == 0; }

bool FileExists(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0;
}

}  // namespace plat
