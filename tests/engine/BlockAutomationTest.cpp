// Pot tapers, tone decoding, automation index tables, clones and the guards on bad input.
#include <cmath>
#include <limits>

#include "../VirtualTableSlot.h"
#include "BlockTestSupport.h"

namespace {

bool sameMatrices(const SSParamsVec& a, const SSParamsVec& b)
{
    const Matrix* left[] = {&a.A, &a.B, &a.C, &a.D, &a.E, &a.F, &a.G, &a.H, &a.K};
    const Matrix* right[] = {&b.A, &b.B, &b.C, &b.D, &b.E, &b.F, &b.G, &b.H, &b.K};
    for (size_t m = 0; m < 9; ++m) {
        if (gmm::mat_nrows(*left[m]) != gmm::mat_nrows(*right[m]) ||
            gmm::mat_ncols(*left[m]) != gmm::mat_ncols(*right[m]))
            return false;
        for (size_t r = 0; r < gmm::mat_nrows(*left[m]); ++r)
            for (size_t c = 0; c < gmm::mat_ncols(*left[m]); ++c)
                if ((*left[m])(r, c) != (*right[m])(r, c))
                    return false;
    }
    return true;
}

struct PotIndices
{
    int block;
    uint32_t upper;  // automation index of the upper leg; the lower leg follows it
};

const PotIndices gainBlocks[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}};

}  // namespace

TEST(BlockShape, DimensionsAndCounts)
{
    struct Shape { uint32_t N, nIn, nV, nI, steps, indices, constants; };
    const Shape shapes[] = {{2, 2, 4, 4, 17, 4, 1}, {2, 2, 4, 4, 17, 4, 1}, {1, 3, 4, 4, 17, 5, 2},
                            {2, 2, 4, 4, 17, 4, 1}, {4, 2, 2, 2, 450, 6, 1}};
    for (int which = 0; which < 5; ++which) {
        const auto block = makeBlock(which, 44100.0);
        const Shape& s = shapes[which];
        EXPECT_EQ(block->N, s.N);
        EXPECT_EQ(block->nIn, s.nIn);
        EXPECT_EQ(block->nV, s.nV);
        EXPECT_EQ(block->nI, s.nI);
        EXPECT_EQ(block->nOut, 1u);
        EXPECT_EQ(block->stepCount, s.steps);
        EXPECT_EQ(block->paramIndexCount, s.indices);
        EXPECT_EQ(block->firstConstantInput, 1u);
        EXPECT_EQ(block->constantInputCount, s.constants);
        EXPECT_EQ(block->currentStep, 0u);
        EXPECT_EQ(gmm::mat_nrows(block->F), s.nV);
        EXPECT_EQ(gmm::mat_ncols(block->F), s.nI);
        EXPECT_EQ(gmm::mat_ncols(block->G), s.N);
        ASSERT_TRUE(block->triode);
    }
}

TEST(BlockShape, TheInterfaceAloneComputesNothing)
{
    // The interface's own operations: zero matrices of the given shapes, and per-sample operations
    // that leave their outputs alone (the blocks compute; the interface only fixes the order).
    SSParamsVecAutomation bare(2, 2, 4, 4, 17, 4, 1, 48000.0);
    EXPECT_EQ(gmm::mat_nrows(bare.C), 2u);
    EXPECT_EQ(gmm::mat_ncols(bare.C), 4u);
    EXPECT_EQ(gmm::mat_nrows(bare.K), 1u);
    bare.A(0, 0) = 2.0;
    bare.setSampleRate(96000.0);
    bare.setStep(3);
    EXPECT_EQ(bare.sampleRate(), 96000.0);
    EXPECT_EQ(bare.A(0, 0), 2.0);
    EXPECT_EQ(bare.currentStep, 0u);
    EXPECT_EQ(bare.getParam(0), 0.0);
    EXPECT_EQ(bare.clone(), nullptr);

    const std::vector<double> u{1.0, 2.0}, x{3.0, 4.0}, i{5.0, 6.0, 7.0, 8.0};
    std::vector<double> p(4, -1.0), xNew(2, -1.0), y(1, -1.0), currents(4, -1.0);
    Matrix J(4, 4);
    bare.reserved1();
    bare.reserved2();
    bare.predictPortVoltages(u, x, p);
    bare.updateState(u, i, x, xNew);
    bare.computeOutput(u, x, i, y);
    bare.nonlinearCurrents(p, currents);
    bare.nonlinearJacobian(p, J);
    EXPECT_EQ(p, std::vector<double>(4, -1.0));
    EXPECT_EQ(xNew, std::vector<double>(2, -1.0));
    EXPECT_EQ(y, std::vector<double>(1, -1.0));
    EXPECT_EQ(currents, std::vector<double>(4, -1.0));
    EXPECT_EQ(largestMagnitude(J), 0.0);
}

TEST(BlockShape, OperationsKeepTheirSlotsInTheTable)
{
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::setSampleRate), 2);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::updateMatrices), 3);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::nonlinearCurrents), 4);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::nonlinearJacobian), 5);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::reserved1), 6);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::reserved2), 7);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::predictPortVoltages), 8);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::updateState), 9);
    EXPECT_EQ(virtualTableSlot(&SSParamsVec::computeOutput), 10);
    EXPECT_EQ(virtualTableSlot(&SSParamsVecAutomation::setStep), 11);
    EXPECT_EQ(virtualTableSlot(&SSParamsVecAutomation::getParam), 12);
    EXPECT_EQ(virtualTableSlot(&SSParamsVecAutomation::setParam), 13);
    EXPECT_EQ(virtualTableSlot(&SSParamsVecAutomation::clone), 14);
}

TEST(GainTaper, StepsZeroEightAndSixteen)
{
    for (const PotIndices& pot : gainBlocks) {
        const auto block = makeBlock(pot.block, 44100.0);
        block->setStep(0);
        EXPECT_DOUBLE_EQ(block->getParam(pot.upper + 1), 6054.0);
        EXPECT_DOUBLE_EQ(block->getParam(pot.upper), 493945.0);
        block->setStep(8);
        EXPECT_NEAR(block->getParam(pot.upper + 1), 102469.151, 5e-4);
        EXPECT_NEAR(block->getParam(pot.upper), 397529.849, 5e-4);
        block->setStep(16);
        EXPECT_EQ(block->currentStep, 16u);
        EXPECT_EQ(block->getParam(pot.upper + 1), 499999.0);
        EXPECT_EQ(block->getParam(pot.upper), 0.0);
    }
}

TEST(GainTaper, StepBeyondTheLastIsTakenAsTheLast)
{
    for (const PotIndices& pot : gainBlocks) {
        const auto top = makeBlock(pot.block, 88200.0);
        top->setStep(16);
        for (uint32_t step : {17u, 1000u, std::numeric_limits<uint32_t>::max()}) {
            const auto block = makeBlock(pot.block, 88200.0);
            block->setStep(step);
            EXPECT_EQ(block->currentStep, 16u);
            EXPECT_TRUE(sameMatrices(*block, *top)) << "block " << pot.block << " step " << step;
        }
    }
}

TEST(ToneDecode, PotValuesFromTheStep)
{
    Block4 block(88200.0, 355.0);
    block.setStep(224);  // treble 7, bass 7, voice 0
    EXPECT_DOUBLE_EQ(block.getParam(1), 110000.5);
    EXPECT_DOUBLE_EQ(block.getParam(2), 110000.5);
    EXPECT_DOUBLE_EQ(block.getParam(3), 110000.5);
    EXPECT_EQ(block.getParam(4), 1.0);
    block.setStep(449);  // treble 14, bass 14, voice 1
    EXPECT_EQ(block.getParam(1), 1.0);
    EXPECT_EQ(block.getParam(2), 220000.0);
    EXPECT_EQ(block.getParam(3), 220000.0);
    EXPECT_EQ(block.getParam(4), 4700000.0);
}

TEST(ToneDecode, StepsOutsideTheRangeActAsStepZero)
{
    Block4 zero(88200.0, 355.0);
    zero.setStep(0);
    EXPECT_EQ(zero.getParam(1), 220000.0);
    EXPECT_EQ(zero.getParam(2), 1.0);
    EXPECT_EQ(zero.getParam(3), 1.0);
    EXPECT_EQ(zero.getParam(4), 1.0);
    for (uint32_t step : {450u, 1000u, std::numeric_limits<uint32_t>::max()}) {
        Block4 block(88200.0, 355.0);
        block.setStep(step);
        EXPECT_TRUE(sameMatrices(block, zero)) << step;
    }
}

TEST(ToneDecode, TrebleMovesOnlyTheOutputRow)
{
    Block4 low(88200.0, 355.0), high(88200.0, 355.0);
    low.setStep(0);
    high.setStep(420);  // treble 14, bass 0, voice 0
    for (const auto& [a, b] : {std::pair{&low.A, &high.A}, {&low.B, &high.B}, {&low.C, &high.C},
                               {&low.D, &high.D}, {&low.E, &high.E}, {&low.F, &high.F}})
        for (size_t r = 0; r < gmm::mat_nrows(*a); ++r)
            for (size_t c = 0; c < gmm::mat_ncols(*a); ++c)
                EXPECT_NEAR((*a)(r, c), (*b)(r, c), 1e-12 * (1.0 + std::abs((*a)(r, c))));
    EXPECT_NE(low.G(0, 0), high.G(0, 0));
    EXPECT_NE(low.H(0, 1), high.H(0, 1));
    EXPECT_NE(low.K(0, 1), high.K(0, 1));
}

TEST(AutomationIndices, ConstantsAndOutOfRange)
{
    struct Expected { int block; std::vector<double> constants; double last; };
    const Expected expected[] = {{0, {336.0}, 3.0}, {1, {336.0}, 3.0}, {2, {336.0, 355.0}, 336.0},
                                 {3, {355.0}, 355.0}, {4, {355.0}, 355.0}};
    for (const Expected& e : expected) {
        const auto block = makeBlock(e.block, 44100.0);
        for (uint32_t k = 0; k < e.constants.size(); ++k)
            EXPECT_EQ(block->getParam(k), e.constants[k]);
        const uint32_t last = block->paramIndexCount - 1;
        EXPECT_EQ(block->getParam(last), e.last);
        EXPECT_EQ(block->getParam(last + 1), 0.0);
        EXPECT_EQ(block->getParam(std::numeric_limits<uint32_t>::max()), 0.0);
        block->setParam(last + 1, 7.0);
        block->setParam(std::numeric_limits<uint32_t>::max(), 7.0);
        for (uint32_t k = 0; k <= last; ++k)
            EXPECT_NE(block->getParam(k), 7.0);
    }
}

TEST(AutomationIndices, SetParamStoresWithoutRecomputing)
{
    Block1High block(88200.0, 3.0);
    block.setStep(8);
    const Matrix before = block.E;
    block.setParam(2, 200e3);
    EXPECT_EQ(block.getParam(2), 200e3);
    EXPECT_EQ(block.E(2, 1), before(2, 1));
    block.updateMatrices();
    EXPECT_NE(block.E(2, 1), before(2, 1));
    block.setStep(8);
    EXPECT_NEAR(block.getParam(2), 102469.151, 5e-4);

    Block3 third(88200.0, 355.0);
    third.setParam(0, 300.0);
    third.setParam(3, 1.5);
    EXPECT_EQ(third.getParam(0), 300.0);
    EXPECT_EQ(third.getParam(3), 1.5);

    Block4 tone(88200.0, 355.0);
    tone.setParam(3, 5000.0);
    EXPECT_EQ(tone.getParam(3), 5000.0);
    tone.setParam(5, 42.0);
    EXPECT_EQ(tone.getParam(5), 42.0);
}

TEST(Clone, PlainBlockWithSourceMatricesAndSharedTriode)
{
    for (int which = 0; which < 5; ++which) {
        auto source = makeBlock(which, 88200.0);
        source->setStep(which == 4 ? 225 : 8);
        auto clone = source->clone();
        ASSERT_TRUE(clone);
        EXPECT_TRUE(sameMatrices(*clone, *source));
        EXPECT_EQ(clone->triode.get(), source->triode.get());
        EXPECT_EQ(clone->getParam(0), 0.0);  // the plain block has no automation
        EXPECT_EQ(clone->stepCount, source->stepCount);
        EXPECT_EQ(clone->constantInputCount, source->constantInputCount);

        clone->setStep(3);  // a plain block cannot be stepped
        EXPECT_TRUE(sameMatrices(*clone, *source));

        // Its own recompute starts from the default components, as a freshly built block.
        clone->setSampleRate(88200.0);
        EXPECT_TRUE(sameMatrices(*clone, *makeBlock(which, 88200.0)));

        // The triode model outlives the source for the clone's sake.
        source.reset();
        std::vector<double> p(clone->nV, -1.0), i(clone->nI, 0.0);
        clone->nonlinearCurrents(p, i);
        EXPECT_GT(i[1], 0.0);
    }
}

TEST(SampleRate, RatesThatAreNotPositiveAndFiniteAreIgnored)
{
    for (int which = 0; which < 5; ++which) {
        const auto block = makeBlock(which, 88200.0);
        const auto reference = makeBlock(which, 88200.0);
        for (double fs : {0.0, -44100.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
            block->setSampleRate(fs);
            EXPECT_EQ(block->sampleRate(), 88200.0);
            EXPECT_TRUE(sameMatrices(*block, *reference));
        }
        const auto defaulted = makeBlock(which, 0.0);
        EXPECT_EQ(defaulted->sampleRate(), 44100.0);
        EXPECT_TRUE(sameMatrices(*defaulted, *makeBlock(which, 44100.0)));
    }
}
