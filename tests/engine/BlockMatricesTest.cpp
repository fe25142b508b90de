// The matrices each stage's circuit gives at 88200 Hz, checked to six significant digits.
#include "BlockTestSupport.h"

namespace {

struct ExpectedMatrices
{
    const char *A, *B, *C, *D, *E, *F, *G, *H, *K;
};

constexpr double sixDigits = 5e-6;

void expectMatrices(const SSParamsVec& block, const ExpectedMatrices& e)
{
    const std::pair<const Matrix*, const char*> pairs[] = {{&block.A, e.A}, {&block.B, e.B}, {&block.C, e.C},
                                                           {&block.D, e.D}, {&block.E, e.E}, {&block.F, e.F},
                                                           {&block.G, e.G}, {&block.H, e.H}, {&block.K, e.K}};
    const char* names = "ABCDEFGHK";
    for (size_t m = 0; m < 9; ++m)
        if (pairs[m].second != nullptr)
            expectMatrixNear(*pairs[m].first, parseMatrix(pairs[m].second), sixDigits, 0.0,
                             std::string(1, names[m]));
}

const ExpectedMatrices inputStageHighAtStep8{
    "[0.99657, 0; 0, 0.999581]",
    "[0, 0; 0, -2.43852e-06]",
    "[1.99657, 1.99657, 0, 0; 0, 0.243852, -0.249873, 0]",
    "[2.57237, 0; -2.57237, -20.9451; 0, -21.4623; 0, 0]",
    "[-0.967118, 0; 0, 0.878074; 0, -0.124936; 0, 0.97561]",
    "[100885, 2.57237, 0, 0; -2.57237, -87810, -12493.6, 0; 0, 12493.6, 160367, 2700; 0, 0, -2700, -100261]",
    "[0, 150.805]",
    "[0, 0.877865]",
    "[0, -87786.5, -12515.1, 0]"};

}  // namespace

TEST(BlockMatrices, InputStageHighAtStep8)
{
    Block1High block(88200.0, 3.0);
    block.setStep(8);
    expectMatrices(block, inputStageHighAtStep8);
}

TEST(BlockMatrices, InputStageLowDiffersOnlyInTheInputDivider)
{
    Block1Low block(88200.0, 3.0);
    block.setStep(8);
    ExpectedMatrices expected = inputStageHighAtStep8;
    expected.E = "[-0.5, 0; 0, 0.878074; 0, -0.124936; 0, 0.97561]";
    expected.F = "[102003, 2.57237, 0, 0; -2.57237, -87810, -12493.6, 0; 0, 12493.6, 160367, 2700; "
                 "0, 0, -2700, -100261]";
    expectMatrices(block, expected);
}

TEST(BlockMatrices, SecondStageAtStep8)
{
    Block2 block(88200.0, 336.0);
    block.setStep(8);
    expectMatrices(block, {"[0.990799]", "[0, -7.6283e-06, 0]", "[0, 0.76283, -0.414377, 0]",
                           "[0; 460.046; -249.902; 0]",
                           "[0.142318, 0, 0; 0, -0.618585, 0; 0, -0.207189, 0; 0, 0, -0.97561]",
                           "[-158586, -2700, 0, 0; 2700, 64558.5, 20718.9, 0; 0, 20718.9, 211922, 2700; "
                           "0, 0, 2700, 100261]",
                           "[740.561]", "[0, 0.613985, 0]", "[0, -61398.5, -20968.8, 0]"});
}

TEST(BlockMatrices, ThirdStageAtStep8)
{
    Block3 block(88200.0, 355.0);
    block.setStep(8);
    expectMatrices(block, {"[0.999231, 0; 0, 0.999706]", "[0, -2.98393e-06; 0, 6.90745e-06]",
                           "[0, 0.298393, -0.298393, 0; 0, 0, 0, -1.51964]",
                           "[0, 0; 38.4447, 0; -38.4447, 0; 0, -32.3862]",
                           "[-0.337449, 0; 0, -0.850804; 0, -0.149196; 0, -0.240181]",
                           "[204846, 2700, 0, 0; 2700, 87780.4, 14919.6, 0; 0, 14919.6, 156380, 3300; "
                           "0, 0, 3300, 56139.8]",
                           "[38.4447, 0]", "[0, 0.149196]", "[0, -14919.6, -153080, 0]"});
}

TEST(BlockMatrices, ToneStageAtStep224VoiceOn)
{
    Block4 block(88200.0, 355.0);
    block.setStep(224);
    expectMatrices(block,
                   {"[-0.380975, 0.000128857, -9.14003e-05, 0.618973; 0.0585712, 0.998568, 0.00340144, 0.0585664; "
                    "-0.01371, 0.00112248, 0.995634, -0.0137089; 1.32235, 0.000275262, -0.000195248, 0.322409]",
                    "[0, -5.34062e-07; 0, 1.66268e-06; 0, -7.28532e-06; 0, -1.14086e-06]",
                    "[0, 0.117494; 0, -0.36579; 0, 1.60277; 0, 0.250988]",
                    "[0, 0, 0, 0; 1513.78, -10.3682, 137.667, 1513.66]", "[-1, 0; 0, -0.197269]",
                    "[3300, 3300; 3300, 46699.1]", "[3237.43, 34.255, -154.61, 3237.16]", "[0, 0.098267]",
                    "[0, -21618.7]"});
}

TEST(BlockMatrices, ToneStageAtStep225VoiceOff)
{
    Block4 block(88200.0, 355.0);
    block.setStep(225);
    expectMatrices(block,
                   {"[0.8179, 0.000378416, -0.000268417, 0.00465332; 0.172007, 0.998591, 0.00338469, 0.00044029; "
                    "-0.0402625, 0.00111695, 0.995638, -0.000103061; 0.00994118, 2.06936e-06, -1.46784e-06, "
                    "0.994906]",
                    nullptr, nullptr, nullptr, nullptr, nullptr, "[9507.41, 35.5602, -155.536, 24.3363]",
                    "[0, 0.0928575]", "[0, -20428.7]"});
}
