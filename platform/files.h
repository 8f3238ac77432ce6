// Files, as the portable core sees them.
//
// Contract: callable from any thread; a handle belongs to whoever opened it and is closed by it.
// No call throws. In test executables every operation can be made to fail
// (fault_injection.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

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
// The names in a directory, without "." and "..". False when it cannot be listed.
bool ListDirectory(const char* path, std::vector<std::string>* names);
// True when users other than the owner (its group included) have any access to `path`, with
// its permission bits in *mode. On Windows files carry no such modes: always false.
bool OpenToOthers(const char* path, std::uint32_t* mode);

// An exclusive lock on the file at `path` (created, private, when missing), taken without
// waiting. FileLockRelease removes the file and releases the lock; a lock dies with its process
// too, so one a dead process left behind is simply taken. Once taken, the file holds this
// process's id. When another process holds it, *holder is that process's id as its file tells
// it (0 when unknown).
enum class FileLockResult { Taken, Held, Failed };
FileLockResult FileLockTake(const char* path, FileHandle* lock, long* holder);
void FileLockRelease(const char* path, FileHandle lock);

// --- What stands at a path, where a link leads, and bounded reads ---
// For checks made before a device is contacted: a backup replaces only a regular file, and a
// password file is read only when it is one, so that a FIFO, a device or a directory is refused
// by its kind instead of being opened, replaced or read without end.

enum class NodeKind { Missing, RegularFile, Directory, SymbolicLink, Fifo, CharDevice, BlockDevice,
                      Socket, Other };
// The kind of the node at `path`; with followLinks false a symbolic link is SymbolicLink (on
// Windows the system follows links and reparse points itself, and a device name such as NUL or
// COM1, wherever it stands, is a CharDevice). Missing also when the node cannot be looked at.
NodeKind NodeKindAt(const char* path, bool followLinks);
// The file that a write through `path` replaces: a chain of symbolic links on its last part is
// followed (a relative link from the folder that holds it), a dangling one giving the name that
// it points to; the folder is made absolute with "." and ".." resolved where it exists, and kept
// as given where it does not. False only when the links do not end (a loop). Windows: the full
// path name; the system follows any link when the file is opened.
bool ResolveWritePath(const char* path, std::string* real);
// The system's own text for the last failure of a file call on this thread (strerror /
// FormatMessage), without a line end; "failure injected by a test" after an injected failure.
// Call it right after the failure.
std::string LastFileErrorText();
// Opens `path` only when it is a regular file (never waiting on a FIFO or a device), reads at
// most buffer.size() bytes from its start and closes it. The bytes read, or -1 (not a regular
// file, cannot be opened or read).
std::int64_t FileReadStart(const char* path, std::span<std::uint8_t> buffer);

// Whether two names reach one file, so that a command never writes over the file it reads.
// Both existing: the same file system object (POSIX: device and inode after following links;
// Windows: volume serial number and file index). Otherwise the same real path: the part that
// exists resolved (links followed, "." and ".." taken out), the last part as written; Windows
// compares full path names without regard to letter case. A name that cannot be resolved at all
// counts as not the same.
bool NamesSameFile(const char* first, const char* second);

}  // namespace plat
