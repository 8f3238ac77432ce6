// Files, as the portable core sees them.
//
// Contract: callable from any thread; a handle belongs to whoever opened it and is closed by it.
// No call throws. In test executables every operation can be made to fail
// (fault_injection.h).
#pragma once

#include <cstdint>
#include <span>

namespace plat {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Opens an existing file for reading, not shared with writers.
FileHandle FileOpenRead(const char* path);
// Creates (or empties) a file for writing.
FileHandle FileCreate(const char* path);
// Creates a new file that must not exist yet (for the temporary file that will replace `model`).
// On POSIX its mode is 0600 from the start; when `model` names an existing file, the new one
// takes that file's mode instead, and its owner and group where this process may set them (a
// group that cannot be kept gets no permissions). Either way the mode is in place before the
// first byte is written. On Windows the file gets the system's default protection.
FileHandle FileCreateNew(const char* path, const char* model = nullptr);
bool FileSize(FileHandle f, std::uint64_t* size);
// One read; returns bytes read or -1.
std::int64_t FileRead(FileHandle f, std::span<std::uint8_t> buffer);
// Writes all bytes; returns false on any failure or short write.
bool FileWrite(FileHandle f, std::span<const std::uint8_t> bytes, std::uint32_t* written);
// Flushes to stable storage.
bool FileFlush(FileHandle f);
void FileClose(FileHandle f);
// Replaces `to` with `from` in one step.
bool FileReplace(const char* from, const char* to);
bool FileRemove(const char* path);
bool FileExists(const char* path);
bool DirectoryExists(const char* path);
// Creates one directory, readable by its owner only where the platform has such modes.
bool MakeDirectory(const char* path);

// Whether two names reach one file, so that a command never writes over the file it reads.
// Both existing: the same file system object (POSIX: device and inode after following links;
// Windows: volume serial number and file index). Otherwise the same real path: the part that
// exists resolved (links followed, "." and ".." taken out), the last part as written; Windows
// compares full path names without regard to letter case. A name that cannot be resolved at all
// counts as not the same.
bool NamesSameFile(const char* first, const char* second);

}  // namespace plat
