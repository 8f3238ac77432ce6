// The history of a fleet store: when the store is a git work tree, each run is one commit.
//
// Contract: main thread, after every device of the run has finished; uses the git program
// through platform/process.h. Nothing here is needed for a store without history.
#pragma once

#include <string>
#include <vector>

bool GitProgramAvailable();
// STORE is the top of a git work tree (it holds .git).
bool StoreHasHistory(const std::string& store);
// git init in STORE, as private as the files it records: the repository is shared with nobody
// (core.sharedRepository 0600: its folder 0700, objects 0400, the index 0600). False with git's
// words in *error.
bool StartStoreHistory(const std::string& store, std::string* error);
// Keeps the tool's own scratch and lock files out of the history, also for `git add -A` by
// hand: their names go into the repository's info/exclude once.
void ExcludeToolFiles(const std::string& store);
// When other users may read the history (its repository folder grants its group or others any
// access), the warning to print: what is open and the commands that close it. Empty otherwise.
std::string HistoryPrivacyWarning(const std::string& store);
// One commit of `changedFiles` (paths relative to STORE) with `message`; a run where nothing
// changed is recorded too. A commit identity is supplied when git has none configured. False
// with git's words in *error.
bool CommitStoreHistory(const std::string& store, const std::vector<std::string>& changedFiles,
                        const std::string& message, std::string* error);
