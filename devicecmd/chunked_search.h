// Searching a reply that arrives in chunks, for words that may straddle two chunks.
//
// Contract: one instance per reply, used by the one thread that reads the reply. Each chunk is
// taken as text up to its first zero byte (a zero byte ends the text, and nothing of that chunk
// is carried on). The text handed back for searching is the end of the previous chunk's text
// (longest word length - 1 bytes, too few for a whole word that would already have been found)
// followed by the new chunk's text, so a word split across reads is found in the read that
// completes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class ChunkedSearch {
  public:
    explicit ChunkedSearch(std::size_t longestWord);

    // The text to search after receiving `chunk`; valid until the next call.
    std::string_view Next(std::span<const std::uint8_t> chunk);
    // True when the latest chunk's text ended at a zero byte: nothing that follows can extend it.
    bool TextEnded() const { return ended_; }

  private:
    std::size_t carry_;
    std::string carried_;
    std::string window_;
    bool ended_ = false;
};
