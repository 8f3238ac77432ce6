// The tavio-sim command line (kSimUsage below is its --help text).
//
// Contract: pure parsing on the caller's thread; reading the --factory file and making the
// state directory are left to the caller, so this runs without touching the disk.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_fleet.h"
#include "sim/sim_options.h"

extern const char* const kSimUsage;

struct SimCommandLine {
    SimOptions Options;           // one device; for a fleet, what every device starts from
    std::string FactoryPath;      // empty: the default factory text
    std::size_t ConfigBytes = 0;  // > 0: the factory text is padded to this many bytes
    bool Help = false;            // --help: print kSimUsage and do nothing else
    bool Version = false;         // --version: print the version and do nothing else
    // --fleet N: Fleet.Count = N, the first device at --listen, --state and --log directories.
    SimFleetOptions Fleet;
};

// False with a one-line reason in *error for anything it does not understand.
bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error);
