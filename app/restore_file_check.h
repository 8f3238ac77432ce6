// Whether a file can be a device's configuration, looked at before it is sent: a restore of an
// empty file wipes the device, and one of binary bytes leaves it in an unknown state.
//
// Contract: any thread; pure functions over the bytes given. A configuration is text: every byte
// is printable, a TAB, a CR or an LF, or 128 and above (names in Latin-1 or UTF-8).
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct RestoreFileVerdict {
    bool usable = true;
    std::string reason;  // why not, e.g. "is empty", "holds the byte 0x00 on line 3"
};

RestoreFileVerdict CheckRestoreText(std::span<const std::uint8_t> bytes);
// The same for FileImage as loaded now (read under SharedRecordLock).
RestoreFileVerdict CheckLoadedImage();
// A copy of FileImage's bytes, for comparisons after the transfer.
std::string LoadedImageText();
