#include "app/temporary_files.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// Never destroyed: an interruption may hold it while the process ends.
std::mutex& RegistryLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::vector<std::string>& Registered() {
    static auto* paths = new std::vector<std::string>;
    return *paths;
}

// Lock held.
void Drop(const std::string& path) {
    auto& paths = Registered();
    const auto found = std::find(paths.begin(), paths.end(), path);
    if (found != paths.end()) paths.erase(found);
}

// Lock held.
void RemoveAllRegistered() {
    for (const std::string& path : Registered()) plat::FileRemove(path.c_str());
    Registered().clear();
}

}  // namespace

plat::FileHandle CreateTemporaryFile(const std::string& path, const char* model) {
    std::lock_guard guard(RegistryLock());
    const plat::FileHandle file = plat::FileCreateNew(path.c_str(), model);
    if (file != plat::kNoFile) Registered().push_back(path);
    return file;
}

bool ReplaceWithTemporaryFile(const std::string& path, const std::string& target) {
    std::lock_guard guard(RegistryLock());
    if (!plat::FileReplace(path.c_str(), target.c_str())) return false;
    Drop(path);
    return true;
}

void RemoveTemporaryFile(const std::string& path) {
    std::lock_guard guard(RegistryLock());
    Drop(path);
    plat::FileRemove(path.c_str());
}

void RegisterTemporaryFile(const std::string& path) {
    std::lock_guard guard(RegistryLock());
    Registered().push_back(path);
}

void UnregisterTemporaryFile(const std::string& path) {
    std::lock_guard guard(RegistryLock());
    Drop(path);
}

void RemoveTemporaryFiles() {
    std::lock_guard guard(RegistryLock());
    RemoveAllRegistered();
}

void RemoveTemporaryFilesForGood() {
    RegistryLock().lock();
    RemoveAllRegistered();
}
