#include <gtest/gtest.h>

#include "SSParamsVec.h"
#include "StageRestPoint.h"

namespace
{
// Two decoupled states, each charged by its own port current: at rest x = 2000 i and p = x.
class TwoCapacitors : public SSParamsVec
{
public:
    TwoCapacitors() : SSParamsVec(2, 1, 2, 2)
    {
        for (uint32_t k = 0; k < 2; ++k) {
            A(k, k) = 0.5;
            C(k, k) = 1000.0;
            D(k, k) = 1.0;
        }
        G(0, 0) = 1.0;
    }
    void setSampleRate(double) override {}
};

// Currents rounded to single precision, as the networks give them: the first pulled toward its
// rest by its own output (loop gain +0.25), the second pushed away from it (loop gain -3), where
// taking the model's value again and again would swing further and further. With such a loop gain
// a rounded current has an exact rest for about one constant in four: this one has.
bool roundedCurrents(const std::vector<double>& p, std::vector<double>& i)
{
    i[0] = double(float(5e-4 + 1.25e-4 * p[0]));
    i[1] = double(float(2.0000001e-3 - 1.5e-3 * p[1]));
    return true;
}
} // namespace

// Newton's method ends within a few last bits of the rest of currents that are single-precision
// numbers; the search goes on to the exact rest, where the currents the model gives back are the
// currents themselves, so that a chain started there stays still.
TEST(StageRestPoint, SingleprecisionCurrentsEndOnTheirExactRest)
{
    TwoCapacitors block;
    const StageRestPoint rest(block, {0.0});
    ASSERT_TRUE(rest.valid());
    std::vector<double> i{6e-4, 4e-4};
    EXPECT_EQ(rest.settle(roundedCurrents, i), 0.0);
    EXPECT_NEAR(i[0], 5e-4 / 0.75, 1e-9);
    EXPECT_NEAR(i[1], 2.0000001e-3 / 4.0, 1e-9);

    std::vector<double> x, p, given(2);
    double output = 0.0;
    rest.complete(i, x, p, output);
    roundedCurrents(p, given);
    EXPECT_EQ(given, i);
}
