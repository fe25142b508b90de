#include "OversamplingCoefficients.h"

#include <array>
#include <cmath>

namespace
{
constexpr uint32_t tapsPerBranch = 16;

// Factor 2 uses an equiripple design of its own; only the first half is listed, the table
// being symmetric.
constexpr std::array<float, 16> factorTwoFirstHalf = {
    -0.00032448888f, -0.00059540203f, 0.00054770155f, 0.0031600806f,
    0.003150685f,    -0.003818592f,   -0.012281874f,  -0.0068119387f,
    0.017125072f,    0.033466768f,    0.00589994f,    -0.05684182f,
    -0.07919692f,    0.016293664f,    0.20975196f,    0.370763f};

double normalisedSinc(double v)
{
    constexpr double pi = 3.14159265358979323846;
    return v == 0.0 ? 1.0 : std::sin(pi * v) / (pi * v);
}

// Kaiser-windowed sinc with its cut-off at 19 kHz of a 44.1 kHz host rate, normalised to a
// DC gain of exactly 1 in double precision before rounding to single precision.
template <uint32_t Factor>
std::array<float, tapsPerBranch * Factor> kaiserTable(double beta)
{
    constexpr uint32_t taps = tapsPerBranch * Factor;
    const double centre = (taps - 1) / 2.0;
    const double cutoff = 19000.0 / (44100.0 * Factor);
    const double windowNorm = std::cyl_bessel_i(0.0, beta);
    std::array<double, taps> g{};
    double total = 0.0;
    for (uint32_t n = 0; n < taps; ++n)
    {
        const double offset = n - centre;
        const double ratio = offset / centre;
        const double window = std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - ratio * ratio)) / windowNorm;
        g[n] = 2.0 * cutoff * normalisedSinc(2.0 * cutoff * offset) * window;
        total += g[n];
    }
    std::array<float, taps> h{};
    for (uint32_t n = 0; n < taps; ++n)
        h[n] = float(g[n] / total);
    return h;
}

std::array<float, 32> factorTwoTable()
{
    std::array<float, 32> h{};
    for (uint32_t n = 0; n < 16; ++n)
    {
        h[n] = factorTwoFirstHalf[n];
        h[31 - n] = factorTwoFirstHalf[n];
    }
    return h;
}
} // namespace

const float* oversamplingCoefficients(uint32_t factor)
{
    static const std::array<float, 32> factor2 = factorTwoTable();
    static const std::array<float, 64> factor4 = kaiserTable<4>(4.0);
    static const std::array<float, 128> factor8 = kaiserTable<8>(7.0);
    static const std::array<float, 256> factor16 = kaiserTable<16>(7.0);
    switch (factor)
    {
    case 2: return factor2.data();
    case 4: return factor4.data();
    case 8: return factor8.data();
    case 16: return factor16.data();
    default: return nullptr;
    }
}
