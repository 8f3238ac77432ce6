#include "app/restore_file_check.h"

#include <cstdio>
#include <mutex>

#include "spine/shared_state.h"

namespace {

bool IsTextByte(std::uint8_t b) {
    return b >= 0x20 ? b != 0x7f : b == '\t' || b == '\r' || b == '\n';
}

}  // namespace

RestoreFileVerdict CheckRestoreText(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return {false, "is empty: restoring it would erase the device's configuration"};
    std::size_t line = 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (b == '\n') ++line;
        if (IsTextByte(b)) continue;
        char reason[160];
        std::snprintf(reason, sizeof reason,
                      "is not a configuration text: it holds the byte 0x%02X on line %zu "
                      "(offset %zu)",
                      static_cast<unsigned>(b), line, i);
        return {false, reason};
    }
    return {};
}

RestoreFileVerdict CheckLoadedImage() {
    std::lock_guard lock(SharedRecordLock);
    if (FileImage.Data == nullptr) return CheckRestoreText({});
    return CheckRestoreText(std::span<const std::uint8_t>(FileImage.Data, FileImage.Size));
}

std::string LoadedImageText() {
    std::lock_guard lock(SharedRecordLock);
    if (FileImage.Data == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(FileImage.Data), FileImage.Size);
}
