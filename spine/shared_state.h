// The process-wide records shared by the front end, the commands, the command channel and the
// TFTP server.
//
// Contract: the records live for the whole run. ConnectionSettings is written and read on the
// dialog's thread only. TargetPath and FileImage are written on the dialog's thread and read on
// the TFTP server thread; the accessors below take a lock, so a server thread that was already
// waiting when a command set them still sees the whole value. TftpServerRunning is written only
// by the server thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/files.h"

struct ConnectionSettingsRecord {
    char Host[128];
    char UserName[80];
    char Password[80];
};

struct FileImageRecord {
    std::uint32_t Size;
    std::uint8_t* Data;  // owned; null until the first successful load
};

extern ConnectionSettingsRecord ConnectionSettings;
extern char TargetPath[260];
extern FileImageRecord FileImage;
// Guards FileImage and TargetPath between the dialog's thread and the server thread.
extern std::mutex SharedRecordLock;
extern std::atomic<std::int32_t> TftpServerRunning;
// The IPv4 address (host byte order) that the latest connection to the device reached; 0 before
// the first. Written by the command channel on the dialog's thread before anything is sent on
// that connection; read by the TFTP server thread, which takes requests from this address only.
extern std::atomic<std::uint32_t> DeviceAddress;
extern void* ModuleInstance;

// Copies bounded to the field: a text longer than the field holds is cut to fit (never overrun).
int SetHost(const char* text);
int SetUserName(const char* text);
int SetPassword(const char* text);
int SetTargetPath(const char* text);
const char* GetHost();
// A copy of TargetPath taken under the lock.
std::string GetTargetPath();
int IsTftpServerRunning();
