#include "devicecmd/chunked_search.h"

#include <algorithm>

ChunkedSearch::ChunkedSearch(std::size_t longestWord)
    : carry_(longestWord > 0 ? longestWord - 1 : 0) {}

std::string_view ChunkedSearch::Next(std::span<const std::uint8_t> chunk) {
    const auto zero = std::find(chunk.begin(), chunk.end(), std::uint8_t{0});
    const bool endsAtZero = zero != chunk.end();
    ended_ = endsAtZero;

    window_ = carried_;
    window_.append(chunk.begin(), zero);

    if (endsAtZero) {
        carried_.clear();
    } else {
        const std::size_t keep = std::min(carry_, window_.size());
        carried_.assign(window_, window_.size() - keep, keep);
    }
    return window_;
}
