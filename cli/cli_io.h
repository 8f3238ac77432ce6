// Where morvane-cli writes: standard output and standard error, or a test's buffers.
#pragma once

#include <string_view>

struct CliIo {
    void (*writeOut)(std::string_view text);
    void (*writeErr)(std::string_view text);
    bool errIsTerminal;  // draw the progress bar
};
