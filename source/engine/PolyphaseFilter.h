#pragma once

#include <cstdint>

// A single-precision FIR filter with a circular delay line that never shifts. The
// coefficients are kept in pre-rotated rows, one per combination of polyphase branch and
// delay-line position, so that an output is one pass over one row against the delay line.
// With M branches it interpolates (M outputs per input, gain M); with one branch it is a
// plain low-pass used for decimation.
class PolyphaseFilter
{
public:
    // taps must be a multiple of branches, and taps / branches a multiple of 8.
    PolyphaseFilter(uint16_t taps, uint16_t branches, const float* coefficients);
    ~PolyphaseFilter();

    PolyphaseFilter(const PolyphaseFilter&) = delete;
    PolyphaseFilter& operator=(const PolyphaseFilter&) = delete;

    // Frees the rows, the row table, the delay line and the lane sums, then the filter itself,
    // which must have come from new.
    void destroy();

    // Writes the value at writePos and moves writePos on, wrapping from L - 1 to 0.
    void push(float value)
    {
        delayLine[writePos] = value;
        writePos = (writePos + 1u == branchLength) ? uint16_t(0) : uint16_t(writePos + 1u);
    }

    // Selects the next row, wrapping from T - 1 to 0.
    void advance()
    {
        phase = (phase + 1u == tapCount) ? uint16_t(0) : uint16_t(phase + 1u);
    }

    // The dot product of the current row with the delay line, summed in groups of eight.
    float output();

    uint16_t branchLength; // L: delay-line and row length
    uint16_t tapCount;     // T: coefficients, and rows
    uint16_t octetCount;   // L / 8
    uint16_t writePos;
    uint16_t phase;

private:
    void distributeCoefficients(uint16_t branches, float* scratch, const float* coefficients);

    float** rows;
    float* rowStorage;
    float* delayLine;
    // The four partial sums of a group of eight products.
    float* laneSums;
};
