#pragma once
// Aligned heap blocks. The C++17 std::aligned_alloc is missing from the Windows C runtime, whose
// aligned blocks come from _aligned_malloc and must go back through _aligned_free, never free().

#include <cstddef>
#include <cstdlib>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace velmorant::platform
{
// `bytes` must be a multiple of `alignment` (a power of two). Null when memory runs out.
inline void* alignedAlloc(std::size_t alignment, std::size_t bytes)
{
#if defined(_WIN32)
    return _aligned_malloc(bytes, alignment);
#else
    return std::aligned_alloc(alignment, bytes);
#endif
}

// Releases a block from alignedAlloc; a null pointer is ignored.
inline void alignedRelease(void* block)
{
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}
} // namespace velmorant::platform
