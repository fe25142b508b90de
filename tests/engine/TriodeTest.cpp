// The triode model's currents, derivatives, constant sets and overflow guards.
#include <cmath>

#include <gtest/gtest.h>

#include "DempwolfTriode2.h"

namespace {

// Six significant digits.
void expectSixDigits(double actual, double expected)
{
    EXPECT_NEAR(actual, expected, 5e-6 * std::abs(expected));
}

}  // namespace

TEST(Triode, CurrentsAndDerivativesOfSetZero)
{
    const DempwolfTriode2<0> triode;
    expectSixDigits(triode.cathodeCurrent(0.0, 200.0), 0.00516192);
    expectSixDigits(triode.gridCurrent(0.0, 200.0), 1.88432e-05);

    expectSixDigits(triode.cathodeCurrent(-1.5, 250.0), 0.00205992);
    expectSixDigits(triode.cathodeCurrentDerivativeVgk(-1.5, 250.0), 0.00266041);
    expectSixDigits(triode.cathodeCurrentDerivativeVpk(-1.5, 250.0), 2.57792e-05);
    expectSixDigits(triode.gridCurrent(-1.5, 250.0), 8.02501e-08);  // just above the offset Ig0

    expectSixDigits(triode.gridCurrent(0.5, 150.0), 0.000248987);
    expectSixDigits(triode.gridCurrentDerivativeVgk(0.5, 150.0), 0.000648604);
}

TEST(Triode, CachedReciprocalsAreTheQuotients)
{
    const DempwolfTriode2<0> triode;
    EXPECT_EQ(triode.invC, 0.29411764705882354);
    EXPECT_EQ(triode.invMu, 0.009689922480620155);
    EXPECT_EQ(triode.invCg, 0.100999899000101);
}

TEST(Triode, ConstantSetSelection)
{
    DempwolfTriode2<0> triode;
    triode.setTube(1);
    EXPECT_EQ(triode.C, 3.19);
    EXPECT_EQ(triode.invC, 1.0 / 3.19);
    EXPECT_EQ(triode.mu, 100.2);
    for (int set : {2, 5, -1}) {
        triode.setTube(set);
        EXPECT_EQ(triode.G, 0.001371);
        EXPECT_EQ(triode.gamma, 1.349);
        EXPECT_EQ(triode.invCg, 1.0 / 11.99);
    }
    triode.setTube(0);
    EXPECT_EQ(triode.Gg, 0.0006177);
    EXPECT_EQ(triode.invMu, 1.0 / 103.2);
}

TEST(Triode, GridCurrentIgnoresPlateVoltage)
{
    const DempwolfTriode2<0> triode;
    for (double Vgk : {-3.0, 0.0, 0.8})
        for (double Vpk : {-50.0, 0.0, 300.0}) {
            EXPECT_EQ(triode.gridCurrent(Vgk, Vpk), triode.gridCurrent(Vgk, 0.0));
            EXPECT_EQ(triode.gridCurrentDerivativeVpk(Vgk, Vpk), 0.0);
        }
}

TEST(Triode, OverflowGuards)
{
    const DempwolfTriode2<0> triode;
    EXPECT_EQ(triode.gridCurrent(100.0, 0.0), triode.Ig0);
    const double large = triode.gridCurrent(50.0, 0.0);
    EXPECT_TRUE(std::isfinite(large));
    EXPECT_GT(large, 0.1);
    EXPECT_EQ(triode.cathodeCurrent(250.0, 0.0), 0.0);
    EXPECT_TRUE(std::isfinite(triode.cathodeCurrent(200.0, 0.0)));
    EXPECT_GT(triode.cathodeCurrent(200.0, 0.0), 0.0);
    // Far below cut-off both laws fall to their floor without a NaN.
    EXPECT_EQ(triode.cathodeCurrent(-1000.0, 0.0), 0.0);
    EXPECT_EQ(triode.gridCurrent(-1000.0, 0.0), triode.Ig0);
}
