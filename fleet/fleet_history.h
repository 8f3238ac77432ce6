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
// git init in STORE. False with git's words in *error.
bool StartStoreHistory(const std::string& store, std::string* error);
// One commit of `changedFiles` (paths relative to STORE) with `message`; a run where nothing
// changed is recorded too. A commit identity is supplied when git has none configured. False
// with git's words in *error.
bool CommitStoreHistory(const std::string& store, const std::vector<std::string>& changedFiles,
                        const std::string& message, std::string* error);
