// What a device's new backup changes in its file of the store, for the report: the lines added
// and removed, and a unified diff with secrets masked (app/secret_mask.h).
//
// Contract: called by the fleet runner on a worker thread, outside the run's lock, once the
// device's scratch file is complete and before it is settled; reads both files and writes
// nothing. No stored file (a new device): every line of the new text counts as added, and there
// is no diff. A file that cannot be read, or is larger than any device's text can be, is taken
// as empty. The diff's cost is DiffTexts's, bounded whatever the texts.
#pragma once

#include <cstddef>
#include <string>

#include "fleet/fleet_inventory.h"

struct FleetFileChange {
    std::size_t linesAdded = 0;
    std::size_t linesRemoved = 0;
    std::string diff;  // masked; empty when no line differs or the device is new
};

FleetFileChange CompareWithStoredFile(const FleetDevice& device, const std::string& storedPath,
                                      const std::string& scratchPath);
