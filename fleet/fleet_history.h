// The history of a fleet store: when the store is a git work tree, each run is one commit.
//
// Contract: main thread, after every device of the run has finished; uses the git program
// through platform/process.h. Nothing here is needed for a store without history.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool GitProgramAvailable();
// STORE is the top of a git work tree (it holds .git).
bool StoreHasHistory(const std::string& store);
// STORE lies in a git work tree: its own, or one that encloses it (whose history then records
// the store's paths and nothing else of that tree).
bool StoreInWorkTree(const std::string& store);
// git init in STORE, as private as the files it records: the repository is shared with nobody
// (core.sharedRepository 0600: its folder 0700, objects 0400, the index 0600). False with git's
// words in *error.
bool StartStoreHistory(const std::string& store, std::string* error);
// Keeps the tool's own scratch, lock and state files out of the history, also for `git add -A` by
// hand: their names go into the repository's info/exclude once. `storeFiles` are more of them,
// as paths relative to STORE (the run's page and its scratch file, when they lie inside it).
void ExcludeToolFiles(const std::string& store, const std::vector<std::string>& storeFiles = {});
// When other users may read the history (its repository folder grants its group or others any
// access), the warning to print: what is open and the commands that close it. Empty otherwise.
std::string HistoryPrivacyWarning(const std::string& store);
enum class HistoryCommit { Made, NothingChanged, Detached, Failed };

// What a commit would record: the files among `files` (paths relative to STORE) that the
// history does not hold yet, and those it holds with other contents.
struct HistoryChanges {
    std::vector<std::string> added;
    std::vector<std::string> changed;
    bool Empty() const { return added.empty() && changed.empty(); }
};

// Stages `files` (paths relative to STORE, and only those) and says what they change; false
// with git's words in *error.
bool StageStoreFiles(const std::string& store, const std::vector<std::string>& files,
                     HistoryChanges* changes, std::string* error);
// One commit of the staged `changes` with `message`, touching no other path of the work tree
// (another path staged by hand stays staged). Nothing changed: no commit. A detached HEAD gets
// no commit either (a commit there would belong to no branch). A commit identity is supplied
// when git has none configured. Failed: git's words in *error.
HistoryCommit CommitStoreHistory(const std::string& store, const HistoryChanges& changes,
                                 const std::string& message, std::string* error);
// The history's HEAD is on no branch.
bool StoreHistoryDetached(const std::string& store);
// git push to the current branch's upstream; false with git's words in *error. Never asks for a
// password: a remote that wants one fails the push. A push still running after timeoutMs is
// ended and fails (a remote that never answers).
inline constexpr std::uint64_t kHistoryPushTimeoutMs = 120'000;
bool PushStoreHistory(const std::string& store, std::string* error,
                      std::uint64_t timeoutMs = kHistoryPushTimeoutMs);
