// Kernel files behind platform/files.h.
#include "platform/files.h"

#include <windows.h>

#include <cstdlib>
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

}  // namespace plat
