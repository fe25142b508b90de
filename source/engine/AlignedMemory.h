#pragma once

#include "AlignedAllocation.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// The engine's flat work arrays are 16-byte aligned so that the per-sample loops can use
// aligned four-lane loads. These helpers pair the allocation with its matching free.
namespace velmorant
{
constexpr std::size_t workArrayAlignment = 16;

// Raw 16-byte aligned storage of at least `bytes` bytes (never a null result: throws
// std::bad_alloc like operator new when memory runs out).
inline void* alignedAllocateBytes(std::size_t bytes)
{
    const std::size_t rounded = ((bytes + workArrayAlignment - 1) / workArrayAlignment) * workArrayAlignment;
    void* memory = platform::alignedAlloc(workArrayAlignment, rounded == 0 ? workArrayAlignment : rounded);
    if (memory == nullptr)
        throw std::bad_alloc();
    return memory;
}

// Allocates `count` value-initialised elements of a trivially constructible type, 16-byte aligned.
template <typename T>
T* alignedAllocate(std::size_t count)
{
    T* elements = static_cast<T*>(alignedAllocateBytes(count * sizeof(T)));
    for (std::size_t k = 0; k < count; ++k)
        new (elements + k) T();
    return elements;
}

// Releases an array from alignedAllocate; a null pointer is ignored.
inline void alignedFree(void* memory)
{
    platform::alignedRelease(memory);
}
} // namespace velmorant
