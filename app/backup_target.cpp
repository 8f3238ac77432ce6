#include "app/backup_target.h"

#include "app/config_file_hooks.h"
#include "platform/files.h"

namespace {

struct KindNoun {
    plat::NodeKind kind;
    const char* noun;
};

constexpr KindNoun kKindNouns[] = {
    {plat::NodeKind::Directory, "a directory"},
    {plat::NodeKind::Fifo, "a FIFO"},
    {plat::NodeKind::CharDevice, "a character device"},
    {plat::NodeKind::BlockDevice, "a block device"},
    {plat::NodeKind::Socket, "a socket"},
    {plat::NodeKind::Other, "a node of an unknown kind"},
};

}  // namespace

const char* NotARegularFile(plat::NodeKind kind) {
    for (const KindNoun& k : kKindNouns)
        if (k.kind == kind) return k.noun;
    return nullptr;
}

bool ResolveBackupTarget(const std::string& chosen, std::string* real, std::string* why,
                         FailureCause* cause) {
    FailureCause ignored;
    if (cause == nullptr) cause = &ignored;
    if (!plat::ResolveWritePath(chosen.c_str(), real)) {
        *cause = FailureCause{chosen, "follow link", plat::LastFileErrorText()};
        *why = "Its symbolic link cannot be followed: " + cause->text + ".";
        return false;
    }
    // What a write through `chosen` would reach, as the system resolves it: the same node as
    // *real, except behind the links of /proc and /dev/fd, which name pipes and terminals
    // ("pipe:[1234]") rather than files.
    const plat::NodeKind reached = plat::NodeKindAt(chosen.c_str(), true);
    const plat::NodeKind atReal = plat::NodeKindAt(real->c_str(), false);
    const char* refused = NotARegularFile(reached == plat::NodeKind::Missing ? atReal : reached);
    if (refused == nullptr) return true;
    std::string stands;  // "is a FIFO, not a regular file"
    if (plat::NodeKindAt(chosen.c_str(), false) != plat::NodeKind::SymbolicLink)
        stands = std::string("is ") + refused + ", not a regular file";
    else if (atReal == plat::NodeKind::Missing)
        stands = std::string("is a link to ") + refused + ", not a regular file";
    else
        stands = "is a link to " + *real + ", which is " + refused + ", not a regular file";
    *why = "It " + stands + ".";
    *cause = FailureCause{chosen, "open", "it " + stands};
    return false;
}

bool CheckBackupTarget(const std::string& chosen, std::string* why, FailureCause* cause) {
    FailureCause ignored;
    if (cause == nullptr) cause = &ignored;
    std::string real;
    if (!ResolveBackupTarget(chosen, &real, why, cause)) return false;
    const std::string temporary = real + kTemporarySuffix;
    plat::FileRemove(temporary.c_str());  // one of ours, left by a run that never finished
    const plat::FileHandle probe = plat::FileCreateNew(temporary.c_str());
    if (probe == plat::kNoFile) {
        *cause = FailureCause{chosen, "create", plat::LastFileErrorText()};
        *why = "No file can be created in its folder: " + cause->text + ".";
        return false;
    }
    plat::FileClose(probe);
    plat::FileRemove(temporary.c_str());
    return true;
}
