// POSIX files behind platform/files.h.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>
#include <string>

#include "platform/test_hooks.h"

namespace plat {

namespace {

// An injected failure leaves an error code of its own behind, for LastFileErrorText.
template <typename T>
T Injected(T result) {
    errno = kInjectedError;
    return result;
}

}  // namespace

FileHandle FileOpenRead(const char* path) {
    if (ShouldFail(Op::FileOpenRead)) return Injected(kNoFile);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = code;
        return kNoFile;
    }
    return fd;
}

FileHandle FileCreate(const char* path) {
    if (ShouldFail(Op::FileCreate)) return Injected(kNoFile);
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
    if (ShouldFail(Op::FileCreate)) return Injected(kNoFile);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return kNoFile;
    TakeModelsMode(fd, model);
    return fd;
}

bool FileSize(FileHandle f, std::uint64_t* size) {
    if (ShouldFail(Op::FileSize)) return Injected(false);
    struct stat st{};
    if (::fstat(static_cast<int>(f), &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::int64_t FileRead(FileHandle f, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileRead)) return Injected(-1);
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
    if (ShouldFail(Op::FileWrite)) return Injected(false);
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
    if (ShouldFail(Op::FileFlush)) return Injected(false);
    return ::fsync(static_cast<int>(f)) == 0;
}

void FileClose(FileHandle f) {
    if (f != kNoFile) ::close(static_cast<int>(f));
}

bool FileReplace(const char* from, const char* to) {
    if (ShouldFail(Op::FileReplace)) return Injected(false);
    return std::rename(from, to) == 0;
}

bool FileRemove(const char* path) { return ::unlink(path) == 0; }

bool DirectoryExists(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const char* path) {
    if (ShouldFail(Op::MakeDirectory)) return Injected(false);
    return ::mkdir(path, 0700) == 0;
}

bool FileExists(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0;
}

// --- What stands at a path, where a link leads, and bounded reads ---

NodeKind NodeKindAt(const char* path, bool followLinks) {
    struct stat st{};
    if ((followLinks ? ::stat(path, &st) : ::lstat(path, &st)) != 0) return NodeKind::Missing;
    if (S_ISREG(st.st_mode)) return NodeKind::RegularFile;
    if (S_ISDIR(st.st_mode)) return NodeKind::Directory;
    if (S_ISLNK(st.st_mode)) return NodeKind::SymbolicLink;
    if (S_ISFIFO(st.st_mode)) return NodeKind::Fifo;
    if (S_ISCHR(st.st_mode)) return NodeKind::CharDevice;
    if (S_ISBLK(st.st_mode)) return NodeKind::BlockDevice;
    if (S_ISSOCK(st.st_mode)) return NodeKind::Socket;
    return NodeKind::Other;
}

bool ListDirectory(const char* path, std::vector<std::string>* names) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(dir);
    return true;
}

bool OpenToOthers(const char* path, std::uint32_t* mode) {
    struct stat st{};
    if (::stat(path, &st) != 0) return false;
    *mode = st.st_mode & 07777;
    return (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
}

namespace {

constexpr int kMostLinksFollowed = 40;  // as the kernel's own limit for one path

// The text of the symbolic link at `path`, or false.
bool ReadLink(const std::string& path, std::string* text) {
    std::vector<char> buffer(PATH_MAX);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<std::size_t>(n) >= buffer.size()) return false;
    text->assign(buffer.data(), static_cast<std::size_t>(n));
    return true;
}

// "a/b/c" -> "a/b/", "c" -> "": what a relative link in the same folder is read against.
std::string FolderPrefix(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool SameFile(int fd, const char* path) {
    struct stat opened{}, named{};
    return ::fstat(fd, &opened) == 0 && ::stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

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

bool ResolveWritePath(const char* path, std::string* real) {
    std::string current = path;
    for (int followed = 0;; ++followed) {
        struct stat st{};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (followed == kMostLinksFollowed) {
            errno = ELOOP;
            return false;
        }
        std::string link;
        if (!ReadLink(current, &link) || link.empty()) return false;
        current = link.front() == '/' ? link : FolderPrefix(current) + link;
    }
    const std::size_t slash = current.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : current.substr(0, slash);
    const std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
    if (char* absolute = ::realpath(folder.c_str(), nullptr)) {
        std::string resolved = absolute;
        std::free(absolute);
        if (resolved.back() != '/') resolved += '/';
        current = resolved + name;
    }
    *real = current;
    return true;
}

std::string LastFileErrorText() {
    const int code = errno;
    if (code == kInjectedError) return "failure injected by a test";
    return std::generic_category().message(code);
}

std::int64_t FileReadStart(const char* path, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileOpenRead)) return Injected(-1);
    // Non-blocking: a FIFO put in the file's place after a look at it must not stall the open.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st{};
    std::int64_t got = -1;
    if (::fstat(fd, &st) == 0) {
        if (S_ISREG(st.st_mode))
            got = FileRead(fd, buffer);
        else
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    const int code = errno;
    ::close(fd);
    errno = code;
    return got;
}

FileLockResult FileLockTake(const char* path, FileHandle* lock, long* holder) {
    *holder = 0;
    // A holder removes the file before it lets go: a lock taken on a file that is no longer at
    // `path` is worth nothing, and the next round opens the new one.
    for (int round = 0; round < 8; ++round) {
        const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0) return FileLockResult::Failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            if (held) {
                char text[32] = {};
                const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
                if (n > 0) *holder = std::strtol(text, nullptr, 10);
            }
            ::close(fd);
            return held ? FileLockResult::Held : FileLockResult::Failed;
        }
        if (!SameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t put = ::pwrite(fd, pid.data(), pid.size(), 0);
        }
        *lock = fd;
        return FileLockResult::Taken;
    }
    return FileLockResult::Failed;
}

void FileLockRelease(const char* path, FileHandle lock) {
    if (lock == kNoFile) return;
    ::unlink(path);
    ::close(static_cast<int>(lock));
}

bool NamesSameFile(const char* first, const char* second) {
    struct stat a{}, b{};
    const bool firstExists = ::stat(first, &a) == 0;
    const bool secondExists = ::stat(second, &b) == 0;
    if (firstExists && secondExists) return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    const std::string realFirst = RealPathOf(first);
    return !realFirst.empty() && realFirst == RealPathOf(second);
}

}  // namespace plat
