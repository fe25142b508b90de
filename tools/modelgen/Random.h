#pragma once

#include <cmath>
#include <cstdint>

namespace modelgen
{

// A small deterministic generator (SplitMix64): the same seed gives the same sequence on every
// platform, so generated files are reproducible byte for byte.
class Random
{
public:
    explicit Random(uint64_t seed) : state(seed) {}

    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Box-Muller).
    double normal()
    {
        const double a = 1.0 - uniform();
        const double b = uniform();
        return std::sqrt(-2.0 * std::log(a)) * std::cos(6.283185307179586 * b);
    }
    size_t below(size_t n) { return size_t(next() % n); }

    // Mixes values into one seed.
    static uint64_t seedOf(uint64_t a, uint64_t b = 0, uint64_t c = 0, uint64_t d = 0)
    {
        Random r(a * 0x100000001b3ull ^ b);
        r.state ^= c * 0xc2b2ae3d27d4eb4full;
        r.state ^= d * 0x165667b19e3779f9ull;
        return r.next();
    }

private:
    uint64_t state;
};

} // namespace modelgen
