#include "fleet/fleet_atomic_file.h"

#include <cstdint>
#include <span>

#include "platform/files.h"

bool WriteFileAtomically(const std::string& path, const std::string& text, bool privateFile,
                         std::string* error, const std::string& temporaryPath) {
    const std::string temporary = temporaryPath.empty() ? path + ".morvane-new" : temporaryPath;
    plat::FileRemove(temporary.c_str());  // left by a run that was cut short
    const plat::FileHandle file = privateFile
                                      ? plat::FileCreateNew(temporary.c_str(), path.c_str())
                                      : plat::FileCreate(temporary.c_str());
    if (file == plat::kNoFile) {
        *error = plat::LastFileErrorText();
        return false;
    }
    std::uint32_t written = 0;
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    bool ok = plat::FileWrite(file, bytes, &written) && plat::FileFlush(file);
    if (!ok) *error = plat::LastFileErrorText();
    plat::FileClose(file);
    if (ok && !plat::FileReplace(temporary.c_str(), path.c_str())) {
        *error = plat::LastFileErrorText();
        ok = false;
    }
    if (!ok) plat::FileRemove(temporary.c_str());
    return ok;
}
