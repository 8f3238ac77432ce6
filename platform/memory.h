// Memory, as the portable core sees it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Allocates size bytes with new[] (the caller frees them with delete[]); nullptr when the
// memory cannot be had. Never throws. Callable from any thread.
std::uint8_t* AllocateBytes(std::size_t size);

}  // namespace plat
