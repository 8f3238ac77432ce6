// The tavio-sim command line.
//
//   tavio-sim --listen ADDRESS:PORT --state FILE [--server TEXT] [--user NAME --password TEXT]
//             [--tftp-port PORT] [--factory FILE] [--log FILE] [--max-requests N]
//             [--duration MS] [--retransmit-ms MS] [--max-retransmits N] [--dally-ms MS]
//             [fault switches]
//   fault switches: --refuse-credentials --never-answer-probe --close-without-reply
//             --hold-connection MS --split-server-header --split-unauthorized --split-pause MS
//             --skip-tftp --drop-sent LIST --duplicate-sent LIST --drop-received LIST
//             --silent-after N --request-once --command-delay MS
//             (LIST: packet numbers separated by commas, e.g. 1,3)
//
// Contract: pure parsing on the caller's thread; reading the --factory file is left to the
// caller (FactoryPath), so this runs without touching the disk.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_options.h"

struct SimCommandLine {
    SimOptions Options;
    std::string FactoryPath;  // empty: the default factory text
};

// False with a one-line reason in *error for anything it does not understand.
bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error);
