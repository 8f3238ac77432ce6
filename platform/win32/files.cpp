// Kernel files behind platform/files.h.
#include "platform/files.h"

#include <windows.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/test_hooks.h"
#include "platform/win32/system_error_text.h"

namespace plat {

namespace {

// An injected failure leaves an error code of its own behind, for LastFileErrorText.
template <typename T>
T Injected(T result) {
    ::SetLastError(kInjectedError);
    return result;
}

}  // namespace
namespace {

HANDLE Raw(FileHandle f) {
    return reinterpret_cast<HANDLE>(f);
}

FileHandle Wrap(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

FileHandle Create(const char* path, DWORD disposition) {
    if (ShouldFail(Op::FileCreate)) return Injected(kNoFile);
    // Shared for deletion: a file being written can still be removed (an interrupted command
    // removes its temporary file); it then goes when its last handle is closed.
    return Wrap(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// ReadFile and WriteFile take at most a DWORD at a time.
DWORD Chunk(std::size_t remaining) {
    return remaining > 0x40000000u ? 0x40000000u : static_cast<DWORD>(remaining);
}

}  // namespace

FileHandle FileOpenRead(const char* path) {
    if (ShouldFail(Op::FileOpenRead)) return Injected(kNoFile);
    return Wrap(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle FileCreate(const char* path) {
    return Create(path, CREATE_ALWAYS);
}
FileHandle FileCreateNew(const char* path, const char*) {
    return Create(path, CREATE_NEW);
}

bool FileSize(FileHandle f, std::uint64_t* size) {
    if (ShouldFail(Op::FileSize)) return Injected(false);
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(Raw(f), &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

std::int64_t FileRead(FileHandle f, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileRead)) return Injected(-1);
    std::size_t total = 0;
    while (total < buffer.size()) {
        DWORD got = 0;
        if (!::ReadFile(Raw(f), buffer.data() + total, Chunk(buffer.size() - total), &got, nullptr))
            return -1;
        if (got == 0) break;
        total += got;
    }
    return static_cast<std::int64_t>(total);
}

bool FileWrite(FileHandle f, std::span<const std::uint8_t> bytes, std::uint32_t* written) {
    if (written) *written = 0;
    if (ShouldFail(Op::FileWrite)) return Injected(false);
    std::size_t total = 0;
    while (total < bytes.size()) {
        DWORD put = 0;
        if (!::WriteFile(Raw(f), bytes.data() + total, Chunk(bytes.size() - total), &put,
                         nullptr) ||
            put == 0)
            break;
        total += put;
    }
    if (written) *written = static_cast<std::uint32_t>(total);
    return total == bytes.size();
}

bool FileFlush(FileHandle f) {
    if (ShouldFail(Op::FileFlush)) return Injected(false);
    return ::FlushFileBuffers(Raw(f)) != 0;
}

void FileClose(FileHandle f) {
    if (f != kNoFile) ::CloseHandle(Raw(f));
}

bool FileReplace(const char* from, const char* to) {
    if (ShouldFail(Op::FileReplace)) return Injected(false);
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FileRemove(const char* path) {
    return ::DeleteFileA(path) != 0;
}

bool DirectoryExists(const char* path) {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const char* path) {
    if (ShouldFail(Op::MakeDirectory)) return Injected(false);
    return ::CreateDirectoryA(path, nullptr) != 0;
}

bool FileExists(const char* path) {
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// --- What stands at a path, where a link leads, and bounded reads ---

namespace {

// The names the system keeps for its devices in every folder, with or without an extension.
constexpr std::array<std::string_view, 24> kDeviceNames{
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
    "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$",
    "CONOUT$"};

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A path in the device namespace (\\.\...), or a last part that is a device name.
bool NamesADevice(std::string_view path) {
    if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return true;
    const std::size_t cut = path.find_last_of("\\/:");
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (std::string_view device : kDeviceNames)
        if (SameLetters(name, device)) return true;
    return false;
}

// The file's identity: volume serial number and file index. False when it cannot be opened.
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    const HANDLE h = ::CreateFileA(path, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(h, info) != 0;
    ::CloseHandle(h);
    return known;
}

// The full path name ("." and ".." taken out); empty when it cannot be had.
std::string FullPathOf(const char* path) {
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return {};
    return std::string(full, n);
}

}  // namespace

NodeKind NodeKindAt(const char* path, bool) {
    if (NamesADevice(path)) return NodeKind::CharDevice;
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return NodeKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return NodeKind::Directory;
    const HANDLE h = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return NodeKind::RegularFile;  // there, but held by another
    const DWORD type = ::GetFileType(h);
    ::CloseHandle(h);
    switch (type) {
        case FILE_TYPE_DISK: return NodeKind::RegularFile;
        case FILE_TYPE_CHAR: return NodeKind::CharDevice;
        case FILE_TYPE_PIPE: return NodeKind::Fifo;
        default: return NodeKind::Other;
    }
}

bool ResolveWritePath(const char* path, std::string* real) {
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(path, sizeof full, full, nullptr);
    *real = n > 0 && n < sizeof full ? std::string(full, n) : std::string(path);
    return true;
}

std::string LastFileErrorText() {
    const DWORD code = ::GetLastError();
    if (code == static_cast<DWORD>(kInjectedError)) return "failure injected by a test";
    return SystemErrorText(code);
}

std::int64_t FileReadStart(const char* path, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileOpenRead)) return Injected(-1);
    if (NodeKindAt(path, true) != NodeKind::RegularFile) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return -1;
    }
    const HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    std::int64_t got = -1;
    if (::GetFileType(h) == FILE_TYPE_DISK)
        got = FileRead(Wrap(h), buffer);
    else
        ::SetLastError(ERROR_INVALID_FUNCTION);
    const DWORD code = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(code);
    return got;
}

bool ListDirectory(const char* path, std::vector<std::string>* names) {
    WIN32_FIND_DATAA entry{};
    const HANDLE find = ::FindFirstFileA((std::string(path) + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names->push_back(name);
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return true;
}

// Windows files carry no owner/group/other modes: there is nothing to check.
bool OpenToOthers(const char*, std::uint32_t* mode) {
    *mode = 0;
    return false;
}

FileLockResult FileLockTake(const char* path, FileHandle* lock, long* holder) {
    *holder = 0;
    // Deleted once its last handle is closed, by FileLockRelease or by the process's end.
    const HANDLE file = ::CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE | DELETE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        // A file whose last holder is letting go of it can be neither opened nor created.
        return ::GetLastError() == ERROR_ACCESS_DENIED ? FileLockResult::Held
                                                       : FileLockResult::Failed;
    // The lock covers a range beyond any text the file holds, so the holder's id stays readable.
    OVERLAPPED at{};
    at.Offset = 0x7fffffff;
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const bool held = ::GetLastError() == ERROR_LOCK_VIOLATION;
        if (held) {
            char text[32] = {};
            DWORD got = 0;
            if (::ReadFile(file, text, sizeof text - 1, &got, nullptr) && got > 0)
                *holder = std::strtol(text, nullptr, 10);
        }
        ::CloseHandle(file);
        return held ? FileLockResult::Held : FileLockResult::Failed;
    }
    const std::string pid = std::to_string(::GetCurrentProcessId()) + "\r\n";
    DWORD put = 0;
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && ::SetEndOfFile(file))
        ::WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &put, nullptr);
    *lock = Wrap(file);
    return FileLockResult::Taken;
}

void FileLockRelease(const char*, FileHandle lock) {
    if (lock != kNoFile) ::CloseHandle(Raw(lock));
}

bool NamesSameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (FileIdentity(first, &a) && FileIdentity(second, &b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    const std::string fullFirst = FullPathOf(first);
    return !fullFirst.empty() && ::lstrcmpiA(fullFirst.c_str(), FullPathOf(second).c_str()) == 0;
}

}  // namespace plat
