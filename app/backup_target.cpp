#include "app/backup_target.h"

#include "app/config_file_hooks.h"
#include "platform/files.h"

namespace {

struct KindText {
    plat::NodeKind kind;
    const char* text;
};

// What the operator is told stands at a target that is not a regular file.
constexpr KindText kRefusedKinds[] = {
    {plat::NodeKind::Directory, "a directory, not a regular file"},
    {plat::NodeKind::Fifo, "a FIFO, not a regular file"},
    {plat::NodeKind::CharDevice, "a character device, not a regular file"},
    {plat::NodeKind::BlockDevice, "a block device, not a regular file"},
    {plat::NodeKind::Socket, "a socket, not a regular file"},
    {plat::NodeKind::Other, "not a regular file"},
};

const char* RefusedKindText(plat::NodeKind kind) {
    for (const KindText& k : kRefusedKinds)
        if (k.kind == kind) return k.text;
    return nullptr;  // a regular file, or nothing yet
}

}  // namespace

bool ResolveBackupTarget(const std::string& chosen, std::string* real, std::string* why) {
    if (!plat::ResolveWritePath(chosen.c_str(), real)) {
        *why = "Its symbolic link cannot be followed: " + plat::LastFileErrorText() + ".";
        return false;
    }
    const char* refused = RefusedKindText(plat::NodeKindAt(real->c_str(), false));
    if (refused == nullptr) return true;
    const bool link = plat::NodeKindAt(chosen.c_str(), false) == plat::NodeKind::SymbolicLink;
    *why = (link ? "It is a link to " + *real + ", which is " : std::string("It is ")) + refused + ".";
    return false;
}

bool CheckBackupTarget(const std::string& chosen, std::string* why) {
    std::string real;
    if (!ResolveBackupTarget(chosen, &real, why)) return false;
    const std::string temporary = real + kTemporarySuffix;
    plat::FileRemove(temporary.c_str());  // one of ours, left by a run that never finished
    const plat::FileHandle probe = plat::FileCreateNew(temporary.c_str());
    if (probe == plat::kNoFile) {
        *why = "No file can be created in its folder: " + plat::LastFileErrorText() + ".";
        return false;
    }
    plat::FileClose(probe);
    plat::FileRemove(temporary.c_str());
    return true;
}
