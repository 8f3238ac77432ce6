// A text from outside (a device's TFTP error message, a file name in a stranger's request, an
// inventory's field) made fit to quote in a one-line message: every byte that is not printable
// ASCII becomes \xNN, and a text longer than limit bytes is cut there and ends in "...".
//
// Contract: pure formatting, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

std::string PrintableText(std::string_view text, std::size_t limit = std::string_view::npos);
