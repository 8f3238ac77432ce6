#include "fleet/fleet_store.h"

#include <optional>
#include <vector>

#include "platform/files.h"

namespace {

// The whole file, or nothing when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadWhole(const std::string& path) {
    const plat::FileHandle file = plat::FileOpenRead(path.c_str());
    if (file == plat::kNoFile) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    bool ok = plat::FileSize(file, &size);
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size));
        ok = size == 0 || plat::FileRead(file, bytes) == static_cast<std::int64_t>(size);
    }
    plat::FileClose(file);
    if (!ok) return std::nullopt;
    return bytes;
}

}  // namespace

std::string FleetFilePath(const std::string& store, const std::string& name) {
    return store + "/" + name + ".cfg";
}

std::string FleetScratchPath(const std::string& store, const std::string& name) {
    return store + "/." + name + ".cfg.morvane-new";
}

FleetFileVerdict SettleFleetFile(const std::string& scratch, const std::string& target,
                                 FailureCause* cause) {
    const auto failed = [&](const char* step) {
        if (cause != nullptr) *cause = FailureCause{target, step, plat::LastFileErrorText()};
        plat::FileRemove(scratch.c_str());
        return FleetFileVerdict::Failed;
    };
    const auto fresh = ReadWhole(scratch);
    if (!fresh) return failed("read");
    if (plat::FileExists(target.c_str())) {
        const auto old = ReadWhole(target);
        if (old && *old == *fresh) {
            plat::FileRemove(scratch.c_str());
            return FleetFileVerdict::Unchanged;
        }
    }
    if (!plat::FileReplace(scratch.c_str(), target.c_str())) return failed("rename");
    return FleetFileVerdict::Stored;
}

void SweepFleetScratch(const std::string& store) {
    std::vector<std::string> names;
    if (!plat::ListDirectory(store.c_str(), &names)) return;
    for (const std::string& name : names)
        if (name.size() > 1 && name[0] == '.' && name.find(".cfg.morvane-new", 1) != std::string::npos)
            plat::FileRemove((store + "/" + name).c_str());
}

std::string FleetLockPath(const std::string& store) {
    return store + "/.morvane-lock";
}

bool PrepareFleetStore(const std::string& store) {
    return plat::DirectoryExists(store.c_str()) || plat::MakeDirectory(store.c_str());
}
