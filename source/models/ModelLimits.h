#pragma once

#include <cstddef>
#include <cstdint>

// Bounds that keep a hostile or damaged model file from driving allocations or build times.
// Every array a reader allocates must also fit in the bytes the image still holds, so memory use
// stays proportional to the image's size.
struct ModelLimits
{
    // A stream larger than this is refused before it is parsed (the real files are a few MiB).
    static constexpr std::size_t maxFileBytes = 64u * 1024u * 1024u;
    // Memory one network may take (in FANN and in its runner) for the factory to build it: about
    // 1.5 million weights, in any shape of layers. The real networks take a few kilobytes.
    static constexpr uint64_t maxNetworkBytes = 32u * 1024u * 1024u;
};
