// A file the fleet run writes beside the devices' files (its state, its metrics), replaced in one
// step so that a reader never sees half of it.
//
// Contract: main thread (or the interruption's thread once the run is held). The text goes into
// a temporary file first (`temporary`, or PATH.morvane-new when empty), flushed, then renamed
// over PATH; on failure PATH is as it was and the temporary file is gone.
#pragma once

#include <string>

// `privateFile`: a new file is readable by its owner alone (POSIX 0600; an existing file's mode
// is kept). Otherwise it gets the usual mode, readable by others (for a collector running as
// another user). False with the system's words in *error (which name no temporary file).
bool WriteFileAtomically(const std::string& path, const std::string& text, bool privateFile,
                         std::string* error, const std::string& temporary = {});
