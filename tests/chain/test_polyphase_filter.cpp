// Oversampling filters: the coefficient tables against their published values and
// response points, and the interpolator/decimator pair against direct convolution.
#include "OversamplingCoefficients.h"
#include "PolyphaseFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace
{
const uint32_t factors[] = {2, 4, 8, 16};

std::vector<float> table(uint32_t factor)
{
    const float* h = oversamplingCoefficients(factor);
    return std::vector<float>(h, h + 16 * factor);
}

// Gain in dB of the table at a frequency given as a fraction of the host Nyquist frequency.
double responseDb(const std::vector<float>& h, uint32_t factor, double ofHostNyquist)
{
    const double pi = 3.14159265358979323846;
    const double omega = pi * ofHostNyquist / factor; // radians per oversampled sample
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n)
        sum += double(h[n]) * std::polar(1.0, -omega * double(n));
    return 20.0 * std::log10(std::abs(sum));
}

// y[n*M + m] = M * sum_d h[m + d*M] * x[n - d]
std::vector<double> interpolateDirectly(const std::vector<float>& h, uint32_t factor, const std::vector<float>& x)
{
    std::vector<double> y;
    const std::size_t branchLength = h.size() / factor;
    for (std::size_t n = 0; n < x.size(); ++n)
        for (uint32_t m = 0; m < factor; ++m)
        {
            double sum = 0.0;
            for (std::size_t d = 0; d < branchLength && d <= n; ++d)
                sum += double(h[m + d * factor]) * double(x[n - d]);
            y.push_back(factor * sum);
        }
    return y;
}

std::vector<float> runInterpolator(PolyphaseFilter& filter, uint32_t factor, const std::vector<float>& x)
{
    std::vector<float> y;
    for (float value : x)
    {
        filter.push(value);
        for (uint32_t m = 0; m < factor; ++m)
        {
            filter.advance();
            y.push_back(filter.output());
        }
    }
    return y;
}
} // namespace

TEST(OversamplingCoefficients, MatchPublishedValuesAndAreSymmetricWithUnitSum)
{
    EXPECT_EQ(oversamplingCoefficients(1), nullptr);
    EXPECT_EQ(oversamplingCoefficients(3), nullptr);
    EXPECT_EQ(oversamplingCoefficients(32), nullptr);

    const auto h2 = table(2);
    EXPECT_FLOAT_EQ(h2[0], -0.00032448888f);
    EXPECT_FLOAT_EQ(h2[7], -0.0068119387f);
    EXPECT_FLOAT_EQ(h2[15], 0.370763f);
    EXPECT_FLOAT_EQ(h2[16], 0.370763f);
    const auto h4 = table(4);
    EXPECT_FLOAT_EQ(h4[0], 0.00055654446f);
    EXPECT_FLOAT_EQ(h4[1], 0.0011387694f);
    EXPECT_FLOAT_EQ(h4[31], 0.21089174f);
    const auto h8 = table(8);
    EXPECT_FLOAT_EQ(h8[0], 1.4359299e-05f);
    EXPECT_FLOAT_EQ(h8[63], 0.1071766f);
    const auto h16 = table(16);
    EXPECT_FLOAT_EQ(h16[0], 6.030236e-06f);
    EXPECT_FLOAT_EQ(h16[127], 0.053788252f);

    for (uint32_t factor : {4u, 8u, 16u})
    {
        const auto h = table(factor);
        double sum = 0.0;
        for (std::size_t n = 0; n < h.size(); ++n)
        {
            EXPECT_EQ(h[n], h[h.size() - 1 - n]) << "factor " << factor << " n " << n;
            sum += double(h[n]);
        }
        EXPECT_NEAR(sum, 1.0, 1e-6) << "factor " << factor;
    }
}

TEST(OversamplingCoefficients, FrequencyResponsePoints)
{
    const auto h2 = table(2);
    EXPECT_NEAR(std::pow(10.0, responseDb(h2, 2, 0.0) / 20.0), 1.0006, 2e-4);
    EXPECT_NEAR(responseDb(h2, 2, 0.755), -6.0, 0.3);
    double peak = -100.0;
    for (double f = 0.0; f <= 0.755; f += 0.005)
        peak = std::max(peak, responseDb(h2, 2, f));
    EXPECT_NEAR(peak, 0.88, 0.05);
    for (double f = 1.06; f <= 2.0; f += 0.01)
        EXPECT_LT(responseDb(h2, 2, f), -84.5) << "at " << f;

    for (uint32_t factor : {4u, 8u, 16u})
    {
        const auto h = table(factor);
        EXPECT_NEAR(responseDb(h, factor, 0.0), 0.0, 1e-5);
        EXPECT_NEAR(responseDb(h, factor, 0.862), -6.0, 0.3) << "factor " << factor;
    }
    EXPECT_NEAR(responseDb(table(4), 4, 1.0), -30.0, 0.6);
    EXPECT_NEAR(responseDb(table(8), 8, 1.0), -20.6, 0.3);
    EXPECT_NEAR(responseDb(table(16), 16, 1.0), -20.6, 0.3);
}

TEST(PolyphaseFilter, SilentBeforeAnyInput)
{
    PolyphaseFilter filter(64, 4, oversamplingCoefficients(4));
    EXPECT_EQ(filter.branchLength, 16);
    EXPECT_EQ(filter.octetCount, 2);
    EXPECT_EQ(filter.output(), 0.0f);
    filter.advance();
    EXPECT_EQ(filter.output(), 0.0f);
}

TEST(PolyphaseFilter, InterpolatorImpulseResponseIsScaledTable)
{
    for (uint32_t factor : factors)
    {
        const auto h = table(factor);
        PolyphaseFilter filter(uint16_t(h.size()), uint16_t(factor), h.data());
        std::vector<float> impulse(20, 0.0f);
        impulse[0] = 1.0f;
        const auto y = runInterpolator(filter, factor, impulse);
        for (std::size_t k = 0; k < y.size(); ++k)
        {
            const float expected = k < h.size() ? float(factor) * h[k] : 0.0f;
            ASSERT_EQ(y[k], expected) << "factor " << factor << " output " << k;
        }
    }
}

TEST(PolyphaseFilter, DecimatorImpulseResponseSamplesEveryMthTap)
{
    for (uint32_t factor : factors)
    {
        const auto h = table(factor);
        PolyphaseFilter filter(uint16_t(h.size()), 1, h.data());
        for (uint32_t n = 0; n < 20; ++n)
            for (uint32_t m = 0; m < factor; ++m)
            {
                filter.push(n == 0 && m == 0 ? 1.0f : 0.0f);
                filter.advance();
                if (m == 0)
                {
                    const float expected = n * factor < h.size() ? h[n * factor] : 0.0f;
                    ASSERT_EQ(filter.output(), expected) << "factor " << factor << " output " << n;
                }
            }
    }
}

TEST(PolyphaseFilter, InterpolatorSettlesAtBranchSumsForConstantInput)
{
    PolyphaseFilter filter(64, 4, oversamplingCoefficients(4));
    const auto y = runInterpolator(filter, 4, std::vector<float>(40, 1.0f));
    const double branchSums[] = {0.249825, 0.250175, 0.250175, 0.249825};
    for (uint32_t m = 0; m < 4; ++m)
        EXPECT_NEAR(y[39 * 4 + m], 4.0 * branchSums[m], 4e-6) << "sub-sample " << m;
}

TEST(PolyphaseFilter, RandomSignalMatchesDirectConvolutionAcrossWrapArounds)
{
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> x(100);
    for (float& value : x)
        value = distribution(generator);
    for (uint32_t factor : factors)
    {
        const auto h = table(factor);
        PolyphaseFilter filter(uint16_t(h.size()), uint16_t(factor), h.data());
        const auto y = runInterpolator(filter, factor, x);
        const auto expected = interpolateDirectly(h, factor, x);
        for (std::size_t k = 0; k < y.size(); ++k)
            ASSERT_NEAR(y[k], expected[k], 1e-5) << "factor " << factor << " output " << k;
    }
}
