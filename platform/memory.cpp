#include "platform/memory.h"

#include <new>

#include "platform/test_hooks.h"

namespace plat {

std::uint8_t* AllocateBytes(std::size_t size) {
    if (ShouldFail(Op::Alloc)) return nullptr;
    return new (std::nothrow) std::uint8_t[size];
}

}  // namespace plat
