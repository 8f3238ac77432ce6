#include "fleet/fleet_history.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/files.h"
#include "platform/process.h"

namespace {

int Git(const std::string& store, std::vector<std::string> args, std::string* output,
        std::uint64_t timeoutMs = 0) {
    args.insert(args.begin(), {"git", "-C", store});
    return plat::RunProgram(args, output, timeoutMs);
}

std::string WithoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// The repository's own folder (the common one, for a linked work tree), as a path usable from
// here; STORE/.git when git cannot say.
std::string RepositoryFolder(const std::string& store) {
    std::string output;
    if (Git(store, {"rev-parse", "--git-common-dir"}, &output) != 0) return store + "/.git";
    const std::string folder = WithoutLineEnds(output);
    if (folder.empty()) return store + "/.git";
    const bool absolute = folder[0] == '/' || folder[0] == '\\' ||
                          (folder.size() > 1 && folder[1] == ':');
    return absolute ? folder : store + "/" + folder;
}

bool GitOk(const std::string& store, std::vector<std::string> args, std::string* error) {
    std::string output;
    if (Git(store, std::move(args), &output) == 0) return true;
    output = WithoutLineEnds(std::move(output));
    *error = output.empty() ? "git could not be run" : output;
    return false;
}

// A path relative to the work tree's top as an exclude pattern that matches it alone.
std::string ExactPattern(const std::string& path) {
    std::string pattern = "/";
    for (const char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == '\\' || c == '!' || c == '#') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

bool GitProgramAvailable() {
    return plat::RunProgram({"git", "--version"}, nullptr) == 0;
}

bool StoreHasHistory(const std::string& store) {
    return plat::FileExists((store + "/.git").c_str());
}

bool StoreInWorkTree(const std::string& store) {
    std::string output;
    return Git(store, {"rev-parse", "--is-inside-work-tree"}, &output) == 0 &&
           WithoutLineEnds(output) == "true";
}

bool StartStoreHistory(const std::string& store, std::string* error) {
    return GitOk(store, {"init", "-q", "--shared=0600"}, error);
}

void ExcludeToolFiles(const std::string& store, const std::vector<std::string>& storeFiles) {
    constexpr const char* kPatterns[] = {".*.cfg.morvane-new*", ".morvane-lock", ".morvane-state*"};
    std::vector<std::string> patterns(std::begin(kPatterns), std::end(kPatterns));
    if (!storeFiles.empty()) {
        std::string prefix;  // STORE's place in the work tree ("" at its top)
        if (Git(store, {"rev-parse", "--show-prefix"}, &prefix) == 0) {
            prefix = WithoutLineEnds(prefix);
            for (const std::string& file : storeFiles)
                patterns.push_back(ExactPattern(prefix + file));
        }
    }
    const std::string info = RepositoryFolder(store) + "/info";
    if (!plat::DirectoryExists(info.c_str())) plat::MakeDirectory(info.c_str());
    const std::string exclude = info + "/exclude";
    std::string lines;
    {
        std::ifstream in(exclude, std::ios::binary);
        std::ostringstream whole;
        whole << in.rdbuf();
        lines = "\n" + whole.str();
    }
    std::string missing;
    for (const std::string& pattern : patterns)
        if (lines.find("\n" + pattern + "\n") == std::string::npos &&
            lines.find("\n" + pattern + "\r\n") == std::string::npos)
            missing += pattern + "\n";
    if (missing.empty()) return;
    std::ofstream out(exclude, std::ios::binary | std::ios::app);
    if (lines.size() > 1 && lines.back() != '\n') out << '\n';
    out << "# morvane-cli's scratch and lock files\n" << missing;
}

std::string HistoryPrivacyWarning(const std::string& store) {
    const std::string folder = RepositoryFolder(store);
    std::uint32_t mode = 0;
    if (!plat::OpenToOthers(folder.c_str(), &mode)) return {};
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
    return "morvane-cli: warning: other users can read the history of " + store + " (" + folder +
           " has mode " + octal +
           "), and with it every configuration it holds. To make it private:\n"
           "    chmod -R go= '" + folder + "'\n"
           "    git -C '" + store + "' config core.sharedRepository 0600\n";
}

bool StageStoreFiles(const std::string& store, const std::vector<std::string>& files,
                     HistoryChanges* changes, std::string* error) {
    if (files.empty()) return true;
    std::vector<std::string> add{"add", "--"};
    add.insert(add.end(), files.begin(), files.end());
    if (!GitOk(store, add, error)) return false;
    std::vector<std::string> diff{"diff", "--cached", "--name-status", "--no-renames",
                                  "--relative", "--"};
    diff.insert(diff.end(), files.begin(), files.end());
    std::string output;
    if (Git(store, diff, &output) != 0) {
        output = WithoutLineEnds(std::move(output));
        *error = output.empty() ? "git could not be run" : output;
        return false;
    }
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        line = WithoutLineEnds(std::move(line));
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        (line[0] == 'A' ? changes->added : changes->changed).push_back(line.substr(tab + 1));
    }
    return true;
}

bool StoreHistoryDetached(const std::string& store) {
    return Git(store, {"symbolic-ref", "-q", "HEAD"}, nullptr) != 0;
}

HistoryCommit CommitStoreHistory(const std::string& store, const HistoryChanges& changes,
                                 const std::string& message, std::string* error) {
    if (changes.Empty()) return HistoryCommit::NothingChanged;
    if (StoreHistoryDetached(store)) return HistoryCommit::Detached;
    std::vector<std::string> commit;
    std::string configured;
    if (Git(store, {"config", "user.email"}, &configured) != 0)
        commit = {"-c", "user.name=morvane-cli", "-c", "user.email=morvane-cli@localhost"};
    commit.insert(commit.end(), {"commit", "-q", "-m", message, "--"});
    commit.insert(commit.end(), changes.added.begin(), changes.added.end());
    commit.insert(commit.end(), changes.changed.begin(), changes.changed.end());
    return GitOk(store, commit, error) ? HistoryCommit::Made : HistoryCommit::Failed;
}

bool PushStoreHistory(const std::string& store, std::string* error, std::uint64_t timeoutMs) {
    std::string output;
    const int status =
        Git(store, {"-c", "credential.interactive=never", "push", "-q"}, &output, timeoutMs);
    if (status == 0) return true;
    output = WithoutLineEnds(std::move(output));
    if (status == plat::kProgramTimedOut)
        *error = "git push did not finish within " + std::to_string(timeoutMs / 1000) +
                 " s; the remote did not answer in time" + (output.empty() ? "" : ": " + output);
    else
        *error = output.empty() ? "git could not be run" : output;
    return false;
}
