// The file work behind the TFTP server's hooks, and the loader that prepares a restore.
//
// Contract: LoadFileImage runs on the dialog's thread; CheckFilename, DownloadConfig and
// UploadConfig are registered in TransferHooks and run on the TFTP server thread.
#pragma once

#include <cstdint>

#include "platform/files.h"

// The open temporary file of a write transfer, from its first block to its last.
extern plat::FileHandle TargetFile;

int LoadFileImage(const char* path);
int CheckFilename(const std::uint8_t* start, const std::uint8_t* end, int kind);
int DownloadConfig(std::uint8_t* destination, std::uint32_t* blockLength,
                   std::uint32_t* blockNumber, std::uint32_t blockSize);
int UploadConfig(const std::uint8_t* bytes, int count, std::uint32_t* written, int packetLength,
                 int blockNumber);
