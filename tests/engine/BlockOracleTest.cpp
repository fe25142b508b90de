// Every block against the generic nodal discretiser built from its parts table, over steps and rates.
#include <cmath>
#include <vector>

#include "BlockTestSupport.h"
#include "CircuitTables.h"

namespace {

const double rates[] = {44100.0, 88200.0, 192000.0, 705600.0};

// The oracle solves the network another way, so agreement is to rounding, not to the bit.
constexpr double relativeTolerance = 1e-9;
constexpr double absoluteTolerance = 1e-12;

void expectMatchesOracle(const SSParamsVec& block, const DiscreteModel& oracle, const std::string& label)
{
    expectMatrixNear(block.A, oracle.A, relativeTolerance, absoluteTolerance, label + " A");
    expectMatrixNear(block.B, oracle.B, relativeTolerance, absoluteTolerance, label + " B");
    expectMatrixNear(block.C, oracle.C, relativeTolerance, absoluteTolerance, label + " C");
    expectMatrixNear(block.D, oracle.D, relativeTolerance, absoluteTolerance, label + " D");
    expectMatrixNear(block.E, oracle.E, relativeTolerance, absoluteTolerance, label + " E");
    expectMatrixNear(block.F, oracle.F, relativeTolerance, absoluteTolerance, label + " F");
    expectMatrixNear(block.G, oracle.G, relativeTolerance, absoluteTolerance, label + " G");
    expectMatrixNear(block.H, oracle.H, relativeTolerance, absoluteTolerance, label + " H");
    expectMatrixNear(block.K, oracle.K, relativeTolerance, absoluteTolerance, label + " K");
}

std::string describe(double fs, uint32_t step)
{
    return "fs " + std::to_string(static_cast<int>(fs)) + " step " + std::to_string(step);
}

// The Gain pot's legs come from the block itself (getParam of its pot indices); the taper has its
// own test.
template <class Build>
void checkGainBlock(int which, uint32_t upperIndex, Build circuitFor)
{
    for (double fs : rates) {
        auto block = makeBlock(which, 44100.0);
        block->setSampleRate(fs);
        for (uint32_t step : {0u, 8u, 16u}) {
            block->setStep(step);
            const double upper = block->getParam(upperIndex);
            const double lower = block->getParam(upperIndex + 1);
            expectMatchesOracle(*block, discretise(circuitFor(upper, lower), fs), describe(fs, step));
        }
    }
}

}  // namespace

TEST(BlockOracle, InputStageHigh)
{
    checkGainBlock(0, 1, [](double a, double b) { return inputStageCircuit(true, a, b); });
}

TEST(BlockOracle, InputStageLow)
{
    checkGainBlock(1, 1, [](double a, double b) { return inputStageCircuit(false, a, b); });
}

TEST(BlockOracle, SecondStage)
{
    checkGainBlock(2, 2, secondStageCircuit);
}

TEST(BlockOracle, ThirdStage)
{
    checkGainBlock(3, 1, thirdStageCircuit);
}

TEST(BlockOracle, ToneStageAcrossItsSteps)
{
    std::vector<uint32_t> steps;
    for (uint32_t s = 0; s < 450; s += 17)
        steps.push_back(s);
    steps.insert(steps.end(), {1, 28, 29, 420, 421, 448, 449});
    for (double fs : rates) {
        Block4 block(44100.0, 355.0);
        block.setSampleRate(fs);
        for (uint32_t step : steps) {
            block.setStep(step);
            const auto circuit =
                toneStageCircuit(block.getParam(1), block.getParam(2), block.getParam(3), block.getParam(4));
            expectMatchesOracle(block, discretise(circuit, fs), describe(fs, step));
        }
    }
}

TEST(BlockOracle, ConstructionUsesTheDefaultPotLegs)
{
    expectMatchesOracle(Block1High(48000.0, 3.0), discretise(inputStageCircuit(true, 50e3, 50e3), 48000.0), "1H");
    expectMatchesOracle(Block2(48000.0, 336.0), discretise(secondStageCircuit(50e3, 50e3), 48000.0), "2");
    expectMatchesOracle(Block3(48000.0, 355.0), discretise(thirdStageCircuit(50e3, 50e3), 48000.0), "3");
    expectMatchesOracle(Block4(48000.0, 355.0), discretise(toneStageCircuit(110e3, 110e3, 220e3, 4.7e6), 48000.0),
                        "4");
}

TEST(BlockOracle, TopGainStepStaysFinite)
{
    for (int which = 0; which < 4; ++which) {
        auto block = makeBlock(which, 88200.0);
        block->setStep(16);
        for (const Matrix* m : {&block->A, &block->B, &block->C, &block->D, &block->E, &block->F, &block->G,
                                &block->H, &block->K})
            for (size_t r = 0; r < gmm::mat_nrows(*m); ++r)
                for (size_t c = 0; c < gmm::mat_ncols(*m); ++c)
                    EXPECT_TRUE(std::isfinite((*m)(r, c))) << "block " << which;
    }
    Block1High input(88200.0, 3.0);
    input.setStep(16);
    const double S = 100e3 + 1.0 / (2.0 * 88200.0 * 33e-9) + 220e3 + 499999.0;
    EXPECT_DOUBLE_EQ(input.E(2, 1), -499999.0 / S);
    Block2 second(88200.0, 336.0);
    second.setStep(16);
    EXPECT_DOUBLE_EQ(second.E(0, 0), 499999.0 / 719999.0);
    Block3 third(88200.0, 355.0);
    third.setStep(16);
    EXPECT_EQ(third.E(0, 0), -1.0);
}

namespace {

// Each block with one resistor and one capacitor changed, as a variant of the circuit would change
// them before recomputing.
constexpr double changedRate = 88200.0;

struct InputHighChanged : Velmorant_preamp_block1_high {
    InputHighChanged() : Velmorant_preamp_block1_high(changedRate, 17, 4) {}
    void change() { R105 = 150e3; C102 = 47e-9; }
};
struct InputLowChanged : Velmorant_preamp_block1_low {
    InputLowChanged() : Velmorant_preamp_block1_low(changedRate, 17, 4) {}
    void change() { R102 = 100e3; C101 = 10e-6; }
};
struct SecondChanged : Velmorant_preamp_block2 {
    SecondChanged() : Velmorant_preamp_block2(changedRate, 17, 5) {}
    void change() { R205 = 330e3; C201 = 10e-9; }
};
struct ThirdChanged : Velmorant_preamp_block3 {
    ThirdChanged() : Velmorant_preamp_block3(changedRate, 17, 4) {}
    void change() { R303 = 330e3; C302 = 100e-9; }
};
struct ToneChanged : Velmorant_preamp_block4 {
    ToneChanged() : Velmorant_preamp_block4(changedRate, 15, 6) {}
    void change() { R403 = 100e3; C402 = 47e-9; }
};

// The same two parts changed in the parts table; the asserts make sure the right entries move.
CircuitTable changedTable(CircuitTable table, size_t resistor, double oldOhms, double newOhms, size_t capacitor,
                          double oldFarads, double newFarads)
{
    EXPECT_EQ(table.resistors[resistor].ohms, oldOhms);
    EXPECT_EQ(table.capacitors[capacitor].farads, oldFarads);
    table.resistors[resistor].ohms = newOhms;
    table.capacitors[capacitor].farads = newFarads;
    return table;
}

// Changed parts reach the matrices at the next recompute, and setComponentValues brings back the
// circuit's own values.
template <class Changed>
void checkChangedComponents(const CircuitTable& original, const CircuitTable& changed, const std::string& label)
{
    Changed block;
    block.change();
    block.updateMatrices();
    expectMatchesOracle(block, discretise(changed, changedRate), label + " changed");
    block.setComponentValues();
    block.updateMatrices();
    expectMatchesOracle(block, discretise(original, changedRate), label + " restored");
}

}  // namespace

TEST(BlockOracle, ChangedComponentsGiveTheChangedCircuit)
{
    const auto high = inputStageCircuit(true, 50e3, 50e3);
    checkChangedComponents<InputHighChanged>(high, changedTable(high, 4, 100e3, 150e3, 1, 33e-9, 47e-9), "1H");
    const auto low = inputStageCircuit(false, 50e3, 50e3);
    checkChangedComponents<InputLowChanged>(low, changedTable(low, 1, 68e3, 100e3, 0, 2.2e-6, 10e-6), "1L");
    const auto second = secondStageCircuit(50e3, 50e3);
    checkChangedComponents<SecondChanged>(second, changedTable(second, 6, 220e3, 330e3, 0, 4.7e-9, 10e-9), "2");
    const auto third = thirdStageCircuit(50e3, 50e3);
    checkChangedComponents<ThirdChanged>(third, changedTable(third, 6, 470e3, 330e3, 1, 1.33e-7, 100e-9), "3");
    const auto tone = toneStageCircuit(110e3, 110e3, 220e3, 4.7e6);
    checkChangedComponents<ToneChanged>(tone, changedTable(tone, 5, 68e3, 100e3, 1, 100e-9, 47e-9), "4");
}
