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
    // Neurons in one layer of a network that the factory agrees to build (the runner counts in 16 bits).
    static constexpr uint32_t maxLayerNeurons = 4096;
    // Weights of one network that the factory agrees to build; FANN sets each weight by a search
    // over all connections, so the build time grows with the square of this.
    static constexpr uint64_t maxNetworkWeights = 16384;
};
