#include "fleet/fleet_history.h"

#include "platform/files.h"
#include "platform/process.h"

namespace {

int Git(const std::string& store, std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), {"git", "-C", store});
    return plat::RunProgram(args, output);
}

bool GitOk(const std::string& store, std::vector<std::string> args, std::string* error) {
    std::string output;
    if (Git(store, std::move(args), &output) == 0) return true;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    *error = output.empty() ? "git could not be run" : output;
    return false;
}

}  // namespace

bool GitProgramAvailable() {
    return plat::RunProgram({"git", "--version"}, nullptr) == 0;
}

bool StoreHasHistory(const std::string& store) {
    return plat::FileExists((store + "/.git").c_str());
}

bool StartStoreHistory(const std::string& store, std::string* error) {
    return GitOk(store, {"init", "-q"}, error);
}

bool CommitStoreHistory(const std::string& store, const std::vector<std::string>& changedFiles,
                        const std::string& message, std::string* error) {
    if (!changedFiles.empty()) {
        std::vector<std::string> add{"add", "--"};
        add.insert(add.end(), changedFiles.begin(), changedFiles.end());
        if (!GitOk(store, add, error)) return false;
    }
    std::vector<std::string> commit;
    std::string configured;
    if (Git(store, {"config", "user.email"}, &configured) != 0)
        commit = {"-c", "user.name=morvane-cli", "-c", "user.email=morvane-cli@localhost"};
    commit.insert(commit.end(), {"commit", "-q", "--allow-empty", "-m", message});
    return GitOk(store, commit, error);
}
