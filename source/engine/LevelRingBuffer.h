#pragma once

#include <cmath>
#include <cstdint>

// The last 20480 values of one signal, one per host sample, with their running sum and
// running sum of squares, so that a reader gets mean and spread without walking the window.
// Written on the audio thread; the editor reads reciprocal, sum and sumSquares under the
// processor's callback lock.
class LevelRingBuffer
{
public:
    LevelRingBuffer();
    ~LevelRingBuffer();

    LevelRingBuffer(const LevelRingBuffer&) = delete;
    LevelRingBuffer& operator=(const LevelRingBuffer&) = delete;

    // Replaces the oldest value and updates both sums incrementally. Nothing ever recomputes
    // the sums, so a value that would make them non-finite would do so for the chain's whole
    // lifetime: a non-finite value is stored as 0 and a magnitude beyond valueLimit is clamped,
    // which keeps a full window of squares finite. Inline: the audio path calls it per host sample.
    void add(float value);
    // add for a value that is finite and within valueLimit already, as add makes every value: for
    // callers that limit several chains' values at once.
    void addWithinLimit(float value);

    static constexpr uint32_t windowLength = 20480;
    static constexpr float valueLimit = 1e15f;

    const uint32_t capacity;
    float* const entries;
    const float reciprocal;
    float sum;
    float sumSquares;

private:
    float* current;
    float* const last;
};

inline void LevelRingBuffer::add(float value)
{
    // Comparisons rather than fmin and fmax, which are calls into libm: for a finite value they agree.
    addWithinLimit(!std::isfinite(value)  ? 0.0f
                   : value > valueLimit  ? valueLimit
                   : value < -valueLimit ? -valueLimit
                                         : value);
}

inline void LevelRingBuffer::addWithinLimit(float incoming)
{
    current = (current == last) ? entries : current + 1;
    const float old = *current;
    sum = (incoming - old) + sum;
    sumSquares = ((incoming * incoming) - (old * old)) + sumSquares;
    *current = incoming;
}
