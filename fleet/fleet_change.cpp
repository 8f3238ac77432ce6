#include "fleet/fleet_change.h"

#include <cstdint>
#include <span>

#include "app/config_file_hooks.h"
#include "app/secret_mask.h"
#include "app/text_diff.h"
#include "platform/files.h"

namespace {

// The file's text, at most kImageSizeLimit bytes of it; false when it cannot be read or is
// larger.
bool ReadText(const std::string& path, std::string* text) {
    const plat::FileHandle file = plat::FileOpenRead(path.c_str());
    if (file == plat::kNoFile) return false;
    std::uint64_t size = 0;
    bool ok = plat::FileSize(file, &size) && size <= kImageSizeLimit;
    if (ok) {
        text->resize(static_cast<std::size_t>(size));
        const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(text->data()),
                                            text->size());
        ok = size == 0 || plat::FileRead(file, bytes) == static_cast<std::int64_t>(size);
    }
    plat::FileClose(file);
    if (!ok) text->clear();
    return ok;
}

}  // namespace

FleetFileChange CompareWithStoredFile(const FleetDevice& device, const std::string& storedPath,
                                      const std::string& scratchPath) {
    FleetFileChange change;
    std::string fresh, stored;
    ReadText(scratchPath, &fresh);
    if (!plat::FileExists(storedPath.c_str())) {
        change.linesAdded = TextLines(fresh).size();
        return change;
    }
    ReadText(storedPath, &stored);
    if (stored == fresh) return change;
    const std::string label = device.name + ".cfg";
    const TextDiff diff =
        DiffTexts(stored, fresh, label + " (stored)", label + " (" + device.host + ")");
    change.linesAdded = diff.added;
    change.linesRemoved = diff.removed;
    change.diff = MaskSecretsInDiff(diff.text);
    return change;
}
