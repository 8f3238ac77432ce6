// Kernel files behind platform/files.h.
#include "platform/files.h"

#include <windows.h>

#include <string>

#include "platform/test_hooks.h"

namespace plat {
namespace {

HANDLE Raw(FileHandle f) {
    return reinterpret_cast<HANDLE>(f);
}

FileHandle Wrap(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

FileHandle Create(const char* path, DWORD disposition) {
    if (ShouldFail(Op::FileCreate)) return kNoFile;
    return Wrap(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

// ReadFile and WriteFile take at most a DWORD at a time.
DWORD Chunk(std::size_t remaining) {
    return remaining > 0x40000000u ? 0x40000000u : static_cast<DWORD>(remaining);
}

}  // namespace

FileHandle FileOpenRead(const char* path) {
    if (ShouldFail(Op::FileOpenRead)) return kNoFile;
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
    if (ShouldFail(Op::FileSize)) return false;
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(Raw(f), &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

std::int64_t FileRead(FileHandle f, std::span<std::uint8_t> buffer) {
    if (ShouldFail(Op::FileRead)) return -1;
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
    if (ShouldFail(Op::FileWrite)) return false;
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
    if (ShouldFail(Op::FileFlush)) return false;
    return ::FlushFileBuffers(Raw(f)) != 0;
}

void FileClose(FileHandle f) {
    if (f != kNoFile) ::CloseHandle(Raw(f));
}

bool FileReplace(const char* from, const char* to) {
    if (ShouldFail(Op::FileReplace)) return false;
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
    if (ShouldFail(Op::MakeDirectory)) return false;
    return ::CreateDirectoryA(path, nullptr) != 0;
}

bool FileExists(const char* path) {
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

namespace {

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

bool NamesSameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (FileIdentity(first, &a) && FileIdentity(second, &b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    const std::string fullFirst = FullPathOf(first);
    return !fullFirst.empty() && ::lstrcmpiA(fullFirst.c_str(), FullPathOf(second).c_str()) == 0;
}

}  // namespace plat
