// A reply cut into arbitrary reads: searching it read by read finds what searching the whole
// text received so far finds, at the same read, for the refusal word and for the server patterns.
//
// Input: a series of [length byte][that many + 1 bytes], each one read of the reply.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "devicecmd/chunked_search.h"
#include "devicecmd/server_type_match.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr std::string_view kWord = "unauthorized";

bool Same(const ServerTypeMatch& a, const ServerTypeMatch& b) {
    return a.type == b.type && a.settled == b.settled;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ChunkedSearch wordSearch(kWord.size());
    ChunkedSearch typeSearch(LongestServerPattern());
    // The whole text since the last zero byte: what a search of everything received would see.
    std::string whole;
    bool wordDone = false, typeDone = false;
    for (std::size_t at = 0; at < size && !(wordDone && typeDone);) {
        const std::size_t length = std::min<std::size_t>(data[at] + 1u, size - at - 1);
        if (length == 0) break;
        const std::span<const std::uint8_t> chunk(data + at + 1, length);
        at += 1 + length;

        std::size_t textLength = 0;
        while (textLength < chunk.size() && chunk[textLength] != 0) ++textLength;
        const bool ended = textLength < chunk.size();
        whole.append(reinterpret_cast<const char*>(chunk.data()), textLength);

        const std::string_view wordWindow = wordSearch.Next(chunk);
        const std::string_view typeWindow = typeSearch.Next(chunk);
        FUZZ_CHECK(wordSearch.TextEnded() == ended && typeSearch.TextEnded() == ended);
        FUZZ_CHECK(std::string_view(whole).ends_with(wordWindow));
        FUZZ_CHECK(std::string_view(whole).ends_with(typeWindow));

        if (!wordDone) {
            const bool found = wordWindow.find(kWord) != std::string_view::npos;
            FUZZ_CHECK(found == (whole.find(kWord) != std::string::npos));
            wordDone = found;
        }
        if (!typeDone) {
            const ServerTypeMatch byReads = MatchServerType(typeWindow, !ended);
            const ServerTypeMatch byWhole = MatchServerType(whole, !ended);
            FUZZ_CHECK(Same(byReads, byWhole));
            typeDone = byReads.settled;
            // A held-back pattern is never settled once nothing more can follow.
            if (ended) FUZZ_CHECK(byReads.settled || byReads.type == SERVER_UNRECOGNISED);
        }
        if (ended) whole.clear();
    }
    return 0;
}
