// The per-sample operations against full matrix products, and the triode port sign conventions.
#include <random>

#include "BlockTestSupport.h"

namespace {

std::vector<double> randomVector(std::mt19937& rng, size_t n, double scale)
{
    std::uniform_real_distribution<double> d(-scale, scale);
    std::vector<double> v(n);
    for (double& e : v)
        e = d(rng);
    return v;
}

// y = M1 v1 + M2 v2 + M3 v3, by plain loops over every entry.
std::vector<double> fullProduct(const Matrix& M1, const std::vector<double>& v1, const Matrix& M2,
                                const std::vector<double>& v2, const Matrix& M3, const std::vector<double>& v3)
{
    std::vector<double> y(gmm::mat_nrows(M1), 0.0);
    for (size_t r = 0; r < y.size(); ++r) {
        for (size_t c = 0; c < v1.size(); ++c)
            y[r] += M1(r, c) * v1[c];
        for (size_t c = 0; c < v2.size(); ++c)
            y[r] += M2(r, c) * v2[c];
        for (size_t c = 0; c < v3.size(); ++c)
            y[r] += M3(r, c) * v3[c];
    }
    return y;
}

void expectVectorsNear(const std::vector<double>& actual, const std::vector<double>& expected, const char* what)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t r = 0; r < expected.size(); ++r)
        EXPECT_NEAR(actual[r], expected[r], 1e-12 * (1.0 + std::abs(expected[r]))) << what << "[" << r << "]";
}

}  // namespace

TEST(PerSample, SparseOperationsEqualFullProducts)
{
    std::mt19937 rng(7);
    for (int which = 0; which < 5; ++which) {
        auto block = makeBlock(which, 44100.0);
        for (uint32_t step : {0u, 5u, 16u, 131u, 449u}) {
            block->setStep(step);
            for (int trial = 0; trial < 4; ++trial) {
                const auto u = randomVector(rng, block->nIn, 400.0);
                const auto x = randomVector(rng, block->N, 1e-2);
                const auto i = randomVector(rng, block->nI, 1e-3);
                const std::vector<double> noCurrent(block->nI, 0.0);

                std::vector<double> p(block->nV), xNew(block->N), y(1);
                block->predictPortVoltages(u, x, p);
                block->updateState(u, i, x, xNew);
                block->computeOutput(u, x, i, y);
                expectVectorsNear(p, fullProduct(block->D, x, block->E, u, block->F, noCurrent), "p");
                expectVectorsNear(xNew, fullProduct(block->A, x, block->B, u, block->C, i), "x");
                expectVectorsNear(y, fullProduct(block->G, x, block->H, u, block->K, i), "y");
            }
        }
    }
}

TEST(PerSample, ToneStagePredictionDrivesTheGridDirectly)
{
    Block4 block(88200.0, 355.0);
    block.E(0, 0) = 12.0;  // not read: the grid is the input itself
    std::vector<double> u{2.5, 355.0}, x{0.1, 0.2, 0.3, 0.4}, p(2);
    block.predictPortVoltages(u, x, p);
    EXPECT_EQ(p[0], -2.5);
}

TEST(PortSigns, EveryBlockHandsTheTriodeItsGridAndPlateVoltages)
{
    // Vgk = -1.5 V and Vpk = 250 V written in each block's own port signs.
    const std::vector<std::vector<double>> ports = {{1.5, 250.0, 1.5, 250.0}, {1.5, 250.0, 1.5, 250.0},
                                                    {-1.5, -250.0, 1.5, -250.0}, {1.5, -250.0, 1.5, -250.0},
                                                    {1.5, -250.0}};
    const Triode0 triode;
    const double Ig = triode.gridCurrent(-1.5, 250.0);
    const double Ik = triode.cathodeCurrent(-1.5, 250.0);
    for (int which = 0; which < 5; ++which) {
        auto block = makeBlock(which, 88200.0);
        std::vector<double> i(block->nI, -1.0);
        block->nonlinearCurrents(ports[which], i);
        for (size_t t = 0; t < i.size(); t += 2) {
            EXPECT_EQ(i[t], Ig) << which;
            EXPECT_EQ(i[t + 1], Ik) << which;
        }
    }
}

TEST(PortSigns, JacobianMatchesDifferencesOfTheCurrents)
{
    const std::vector<std::vector<double>> ports = {{1.2, 180.0, 0.3, 220.0}, {1.2, 180.0, 0.3, 220.0},
                                                    {-0.4, -150.0, 1.1, -260.0}, {0.9, -140.0, 2.0, -200.0},
                                                    {0.7, -230.0}};
    constexpr double h = 1e-4;
    constexpr double sentinel = 1234.5;
    for (int which = 0; which < 5; ++which) {
        auto block = makeBlock(which, 88200.0);
        const uint32_t n = block->nV;
        Matrix J(n, n);
        gmm::fill(J, sentinel);
        block->nonlinearJacobian(ports[which], J);
        for (uint32_t col = 0; col < n; ++col) {
            auto up = ports[which], down = ports[which];
            up[col] += h;
            down[col] -= h;
            std::vector<double> iUp(n), iDown(n);
            block->nonlinearCurrents(up, iUp);
            block->nonlinearCurrents(down, iDown);
            for (uint32_t row = 0; row < n; ++row) {
                const bool sameTriode = row / 2 == col / 2;
                if (!sameTriode) {
                    EXPECT_EQ(J(row, col), sentinel) << which;
                    continue;
                }
                const double numeric = (iUp[row] - iDown[row]) / (2.0 * h);
                EXPECT_NEAR(J(row, col), numeric, 1e-3 * std::abs(numeric) + 1e-9)
                    << "block " << which << " J(" << row << "," << col << ")";
            }
        }
    }
}

namespace {

// Whether D and E are non-zero at exactly the entries the block's class lists, at every step: the
// chain's compiled prediction leaves the other entries' terms out and takes a stage only then.
template <class BlockClass>
void expectPredictionEntriesAtEveryStep(int which)
{
    for (double rate : {8000.0, 44100.0, 384000.0}) {
        auto block = makeBlock(which, rate);
        ASSERT_NE(dynamic_cast<BlockClass*>(block.get()), nullptr);
        for (uint32_t step = 0; step < block->stepCount; ++step) {
            block->setStep(step);
            for (uint32_t r = 0; r < BlockClass::portVoltageCount; ++r)
                for (uint32_t c = 0; c < BlockClass::stateCount + BlockClass::inputCount; ++c) {
                    const uint32_t states = BlockClass::stateCount;
                    const double entry = c < states ? block->D(r, c) : block->E(r, c - states);
                    ASSERT_EQ(entry != 0.0, BlockClass::predictionEntries[r][c])
                        << "block " << which << " at " << rate << " Hz, step " << step << ": entry (" << r << ", "
                        << c << ")";
                }
        }
    }
}

}  // namespace

TEST(PerSample, PredictionEntriesAreTheNonZeroEntriesAtEveryStep)
{
    expectPredictionEntriesAtEveryStep<InputStageBlock>(0);
    expectPredictionEntriesAtEveryStep<InputStageBlock>(1);
    expectPredictionEntriesAtEveryStep<Velmorant_preamp_block2>(2);
    expectPredictionEntriesAtEveryStep<Velmorant_preamp_block3>(3);
    expectPredictionEntriesAtEveryStep<Velmorant_preamp_block4>(4);
}
