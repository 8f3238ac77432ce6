// The store of a fleet backup: a directory with one NAME.cfg per device.
//
// Contract: called by the fleet runner, one call per device at a time for a given name (names are
// unique in an inventory), possibly from several devices' runs at once. A device's text is first
// backed up into its scratch file; SettleFleetFile then either leaves NAME.cfg untouched (same
// text) or replaces it in one step. A failed device never touches NAME.cfg.
#pragma once

#include <string>

#include "spine/failure_cause.h"

// STORE/NAME.cfg, and the scratch file a device's backup is written into first. The scratch name
// starts with a dot, which no device name may, so it never collides with a device's file.
std::string FleetFilePath(const std::string& store, const std::string& name);
std::string FleetScratchPath(const std::string& store, const std::string& name);

enum class FleetFileVerdict {
    Stored,     // NAME.cfg is new or now holds the new text
    Unchanged,  // NAME.cfg already held the same bytes; it was not touched
    Failed,     // the scratch file could not be read or moved; NAME.cfg is as it was
};

// Settles a complete scratch file (the scratch file is gone afterwards on every path). Failed
// says why in *cause, when given: NAME.cfg, the step and the system's words.
FleetFileVerdict SettleFleetFile(const std::string& scratch, const std::string& target,
                                 FailureCause* cause = nullptr);

// Removes what runs cut short left in STORE: every file of the scratch files' naming (a device's
// scratch file and the temporary file beside it), whichever device it was for. Only while the
// store is locked for this run (another run's scratch files are live).
void SweepFleetScratch(const std::string& store);

// The store's lock file: one run at a time on a store.
std::string FleetLockPath(const std::string& store);

// Makes sure STORE is a directory (creating one level if missing). False when it is not one and
// cannot be made.
bool PrepareFleetStore(const std::string& store);
