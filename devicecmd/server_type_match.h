// Classifying the text of a probe's reply by the Server: patterns.
//
// Contract: pure text work, any thread. The patterns are tested in a fixed order (the other
// products first, then the models before the bare family name); the first one found decides.
#pragma once

#include <cstddef>
#include <string_view>

#include "devicecmd/server_probe.h"

struct ServerTypeMatch {
    ServerType type = SERVER_UNRECOGNISED;
    // False while nothing is found, and while the pattern found runs to the end of `text` where
    // a pattern tested before it could still grow out of it ("Server: Tavio" before " 21").
    // `type` is then the tentative result, which stands if the reply ends there.
    bool settled = false;
};

// `moreMayFollow`: further bytes of the same text may still arrive after `text`.
ServerTypeMatch MatchServerType(std::string_view text, bool moreMayFollow);

// The length of the longest pattern, for searches that carry text from one read to the next.
std::size_t LongestServerPattern();
