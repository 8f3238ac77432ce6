// Where a backup may be written, decided before the device is asked for anything: a backup
// replaces a regular file (or creates one), never a directory, a FIFO or a device, and follows
// a symbolic link to the file it names rather than replacing the link.
//
// Contract: any thread. Looks at the file system; CheckBackupTarget also creates and removes the
// backup's temporary file beside the real target. The texts in *why are whole sentences, for the
// operator.
#pragma once

#include <string>

#include "platform/files.h"
#include "spine/failure_cause.h"

// What stands there, in the operator's words ("a FIFO"), for any kind of node that is no regular
// file and is there; nullptr for a regular file, a link or nothing. Password files use it too.
const char* NotARegularFile(plat::NodeKind kind);

// The file a backup into `chosen` replaces, in *real: `chosen` itself, or the file at the end of
// the symbolic links on its last part (a dangling link names the file to create). False with
// *why when something other than a regular file stands there (or its link cannot be followed);
// *cause, when given, then names `chosen`, the step and what stands there (or the system's words).
bool ResolveBackupTarget(const std::string& chosen, std::string* real, std::string* why,
                         FailureCause* cause = nullptr);

// ResolveBackupTarget, then proof that the temporary file can be created beside the real target
// (and so renamed over it): it is created and removed again. False with *why, holding the
// system's own text when the folder is missing or cannot be written; *cause, when given, names
// `chosen`, the step that failed and the system's words (or what stands there).
bool CheckBackupTarget(const std::string& chosen, std::string* why, FailureCause* cause = nullptr);
