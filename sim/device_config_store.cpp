#include "sim/device_config_store.h"

#include <array>
#include <cstdint>
#include <span>

#include "platform/files.h"

namespace {

bool WriteFileWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    const plat::FileHandle f = plat::FileCreate(temporary.c_str());
    if (f == plat::kNoFile) return false;
    std::uint32_t written = 0;
    const bool ok =
        plat::FileWrite(f,
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                        &written) &&
        plat::FileFlush(f);
    plat::FileClose(f);
    if (ok && plat::FileReplace(temporary.c_str(), path.c_str())) return true;
    plat::FileRemove(temporary.c_str());
    return false;
}

}  // namespace

bool ReadFileText(const std::string& path, std::string* text) {
    const plat::FileHandle f = plat::FileOpenRead(path.c_str());
    if (f == plat::kNoFile) return false;
    text->clear();
    std::array<std::uint8_t, 4096> chunk{};
    bool ok = true;
    for (;;) {
        const std::int64_t n = plat::FileRead(f, chunk);
        if (n < 0) ok = false;
        if (n <= 0) break;
        text->append(chunk.begin(), chunk.begin() + n);
    }
    plat::FileClose(f);
    return ok;
}

std::string WithLfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

DeviceConfigStore::DeviceConfigStore(std::string statePath, std::string factoryText)
    : statePath_(std::move(statePath)),
      factoryText_(WithLfLineEnds(factoryText)),
      memory_(factoryText_) {}

std::string DeviceConfigStore::Current() {
    if (statePath_.empty()) return memory_;
    if (!plat::FileExists(statePath_.c_str())) Store(factoryText_);
    std::string text;
    if (ReadFileText(statePath_, &text)) memory_ = WithLfLineEnds(text);
    return memory_;
}

bool DeviceConfigStore::Apply(std::string_view text) {
    return Store(WithLfLineEnds(text));
}

bool DeviceConfigStore::ResetToFactory() {
    return Store(factoryText_);
}

bool DeviceConfigStore::Store(const std::string& text) {
    if (!statePath_.empty() && !WriteFileWhole(statePath_, text)) return false;
    memory_ = text;
    return true;
}
