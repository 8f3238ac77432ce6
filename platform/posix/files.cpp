// POSIX files behind platform/files.h.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/test_hooks.h"

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

FileHandle FileCreate(const char* path) {
    if (ShouldFail(Op::FileCreate)) return kNoFile;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? kNoFile : fd;
}

// Gives the new, still empty file behind fd the mode of `model` (a regular file), and its owner
// and group as far as this process may set them; a group it cannot keep gets no permissions.
// Mode 0600 when there is no model. Ownership first: changing it may clear mode bits.
static void TakeModelsMode(int fd, const char* model) {
    struct stat st{};
    mode_t mode = S_IRUSR | S_IWUSR;
    if (model != nullptr && ::stat(model, &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_IRWXG);
    }
    ::fchmod(fd, mode);  // on failure the file stays 0600 (or narrower, by the umask)
}

FileHandle FileCreateNew(const char* path, const char* model) {
    if (ShouldFail(Op::FileCreate)) return kNoFile;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return kNoFile;
    TakeModelsMode(fd, model);
    return fd;
}

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

bool MakeDirectory(const char* path) {
    if (ShouldFail(Op::MakeDirectory)) return false;
    return ::mkdir(path, 0700) == 0;
}

bool FileExists(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0;
}

namespace {

// The real path of `path`; for a name that does not exist yet, the real path of its folder with
// the last part appended. Empty when neither can be resolved.
std::string RealPathOf(const char* path) {
    if (char* real = ::realpath(path, nullptr)) {
        std::string text(real);
        std::free(real);
        return text;
    }
    const std::string whole(path);
    const std::size_t slash = whole.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : whole.substr(0, slash + 1);
    const std::string last = slash == std::string::npos ? whole : whole.substr(slash + 1);
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string text(real);
    std::free(real);
    if (last.empty() || last == ".") return text;
    return text == "/" ? "/" + last : text + "/" + last;
}

}  // namespace

bool NamesSameFile(const char* first, const char* second) {
    struct stat a{}, b{};
    const bool firstExists = ::stat(first, &a) == 0;
    const bool secondExists = ::stat(second, &b) == 0;
    if (firstExists && secondExists) return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    const std::string realFirst = RealPathOf(first);
    return !realFirst.empty() && realFirst == RealPathOf(second);
}

}  // namespace plat
