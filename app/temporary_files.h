// The temporary files in progress, process-wide: a backup's file beside its target while the
// text arrives, a fleet device's scratch file until it is settled. An interruption, or the end of
// a command that gave up on a transfer still running, removes whatever is registered, so that
// nothing of ours is left behind.
//
// Contract: any thread. A file is created and registered in one step under the registry's lock,
// and renamed or removed and unregistered in one step under the same lock, so that whoever holds
// the lock sees exactly the temporary files that exist. A path may be registered more than once
// (each registration is dropped by one unregistration).
#pragma once

#include <string>

#include "platform/files.h"

// plat::FileCreateNew(path, model), registered when it succeeds.
plat::FileHandle CreateTemporaryFile(const std::string& path, const char* model);
// plat::FileReplace(path, target); once it has succeeded the registration is dropped.
bool ReplaceWithTemporaryFile(const std::string& path, const std::string& target);
// Removes the file and drops its registration.
void RemoveTemporaryFile(const std::string& path);

// For a file another component creates (the fleet's scratch file): registered for as long as
// it may exist; UnregisterTemporaryFile leaves the file itself alone.
void RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(const std::string& path);

// Removes every registered file and empties the registry (a command's normal end).
void RemoveTemporaryFiles();
// An interruption: takes the registry's lock for the rest of the process (no temporary file is
// created or renamed from now on) and removes every registered file. Called once, by the thread
// that then ends the process.
void RemoveTemporaryFilesForGood();
