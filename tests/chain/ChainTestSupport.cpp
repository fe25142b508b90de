#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <unistd.h>
#include <vector>

TestBlock::TestBlock(uint32_t states, uint32_t inputs, uint32_t portVoltages, uint32_t portCurrents, uint32_t steps,
                     double constant)
    : SSParamsVecAutomation(states, inputs, portVoltages, portCurrents, steps, inputs, inputs - 1, 44100.0),
      constantInput(constant)
{
    const Matrix* shapes[] = {&A, &B, &C, &D, &E, &F, &G, &H, &K};
    for (std::size_t m = 0; m < templates.size(); ++m)
        templates[m] = *shapes[m];
}

void TestBlock::updateMatrices()
{
    Matrix* targets[] = {&A, &B, &C, &D, &E, &F, &G, &H, &K};
    for (std::size_t m = 0; m < templates.size(); ++m)
        *targets[m] = templates[m];
    gmm::scale(A, 44100.0 / fs);
    gmm::scale(B, 1.0 + currentStep / 10.0);
}

void TestBlock::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    ++stateUpdates;
    gmm::mult(A, x, xNew);
    gmm::mult_add(B, u, xNew);
    gmm::mult_add(C, i, xNew);
}

void TestBlock::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    gmm::mult(G, x, y);
    gmm::mult_add(H, u, y);
    gmm::mult_add(K, i, y);
}

void TestBlock::setStep(uint32_t step)
{
    currentStep = step;
    updateMatrices();
}

double TestBlock::getParam(uint32_t k)
{
    return k < constantInputCount ? constantInput * (k + 1) : 0.0;
}

void TestBlock::randomise(uint32_t seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> distribution(-0.3, 0.3);
    for (Matrix& m : templates)
        for (std::size_t r = 0; r < gmm::mat_nrows(m); ++r)
            for (std::size_t c = 0; c < gmm::mat_ncols(m); ++c)
                m(r, c) = distribution(generator);
    updateMatrices();
}

namespace
{
// The files made for the test program, removed when it ends.
struct TemporaryFiles
{
    ~TemporaryFiles()
    {
        for (const std::string& path : paths)
            std::remove(path.c_str());
    }
    std::vector<std::string> paths;
};
} // namespace

// Named by process too: two test runs on one machine never write each other's files.
std::string temporaryPath(const std::string& name)
{
    static TemporaryFiles files;
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    files.paths.push_back(testing::TempDir() + "chain_" + std::to_string(::getpid()) + "_" + info->test_suite_name()
                          + "_" + info->name() + "_" + name);
    return files.paths.back();
}

ReferenceChain::ReferenceChain(std::array<TestBlock*, 4> stageBlocks, std::array<StageSpec, 4> stageSpecs)
    : blocks(stageBlocks), specs(std::move(stageSpecs))
{
    for (uint32_t s = 0; s < 4; ++s)
    {
        x[s].assign(blocks[s]->N, 0.0);
        i[s].assign(blocks[s]->nI, 0.0);
        u[s].assign(blocks[s]->nIn, 0.0);
        for (uint32_t k = 1; k < blocks[s]->nIn; ++k)
            u[s][k] = blocks[s]->getParam(k - 1);
    }
}

void ReferenceChain::setStep(uint32_t stage, uint32_t newStep)
{
    step[stage] = newStep;
    lastMatch[stage] = 0;
}

std::vector<double> ReferenceChain::networkInput(uint32_t stage, const std::vector<double>& p) const
{
    const StepSpec& spec = specs[stage].steps[step[stage]];
    if (!specs[stage].projected)
        return p;
    const uint32_t rows = spec.projectedInputs;
    const std::size_t columns = spec.projection.size() / rows;
    bool identity = true;
    for (uint32_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < columns; ++c)
            identity = identity && std::fabs(spec.projection[r * columns + c] - (r == c ? 1.0 : 0.0)) <= 0x1p-22;
    std::vector<double> in(rows, 0.0);
    for (uint32_t r = 0; r < rows; ++r)
    {
        if (identity)
        {
            in[r] = p[r];
            continue;
        }
        std::size_t column = 0;
        for (std::size_t v = 0; v < p.size(); ++v)
            if (spec.mask[v] == 1)
                in[r] += spec.projection[r * columns + column++] * p[v];
    }
    return in;
}

void ReferenceChain::evaluate(const NetSpec& net, uint32_t stage, const std::vector<double>& in)
{
    const bool projected = specs[stage].projected;
    const std::size_t inputs = in.size();
    const uint32_t hidden = net.layerSizes[0];
    std::vector<double> normalised(inputs);
    for (std::size_t k = 0; k < inputs; ++k)
    {
        const double range = double(net.inputMax[k]) - double(net.inputMin[k]);
        normalised[k] = range == 0.0 ? -1.0 : (in[k] - double(net.inputMin[k])) * 2.0 / range - 1.0;
    }
    std::vector<double> h(hidden);
    std::size_t w = 0;
    for (uint32_t j = 0; j < hidden; ++j)
    {
        double sum = 0.0;
        for (std::size_t k = 0; k < inputs; ++k)
            sum += double(net.weights[w++]) * normalised[k];
        sum += double(net.weights[w++]);
        sum *= double(projected ? net.hiddenNeuronSteepness[j] : net.hiddenSteepness);
        h[j] = sum / (1.0 + std::fabs(sum));
    }
    const std::vector<uint32_t>& flags = specs[stage].steps[step[stage]].flags;
    std::size_t output = 0;
    for (std::size_t k = 0; k < i[stage].size(); ++k)
    {
        if (projected && (flags[k] & 0xFFFFu) != 1)
            continue;
        std::size_t weight = w + output * (hidden + 1);
        double sum = 0.0;
        for (uint32_t j = 0; j < hidden; ++j)
            sum += double(net.weights[weight++]) * h[j];
        sum += double(net.weights[weight]);
        sum *= double(projected ? net.outputNeuronSteepness[output] : net.outputSteepness);
        const double low = projected ? -1.0 : 0.0;
        const double y = std::fmin(1.0, std::fmax(low, sum));
        const double current = (double(net.outputMax[output]) - double(net.outputMin[output])) * y + double(net.outputMin[output]);
        i[stage][k] = std::fmax(0.0, current);
        ++output;
    }
}

double ReferenceChain::run(double input)
{
    double signal = input;
    for (uint32_t s = 0; s < 4; ++s)
    {
        const TestBlock& b = *blocks[s];
        u[s][0] = signal;
        std::vector<double> p(b.nV, 0.0);
        for (uint32_t r = 0; r < b.nV; ++r)
        {
            for (uint32_t c = 0; c < b.N; ++c)
                p[r] += b.D(r, c) * x[s][c];
            for (uint32_t c = 0; c < b.nIn; ++c)
                p[r] += b.E(r, c) * u[s][c];
        }
        const std::vector<double> in = networkInput(s, p);
        const std::vector<NetSpec>& nets = specs[s].steps[step[s]].nets;
        int match = -1;
        for (std::size_t n = 0; n < nets.size() && match < 0; ++n)
        {
            bool inside = true;
            for (std::size_t k = 0; k < in.size(); ++k)
                inside = inside && double(nets[n].boxMin[k]) < in[k] && in[k] < double(nets[n].boxMax[k]);
            if (inside)
                match = int(n);
        }
        if (match >= 0)
            lastMatch[s] = match;
        if (match >= 0 || s < 3)
            evaluate(nets[std::size_t(lastMatch[s])], s, in);
        else
            std::fill(i[s].begin(), i[s].end(), 0.0);

        std::vector<double> next(b.N, 0.0);
        for (uint32_t r = 0; r < b.N; ++r)
        {
            for (uint32_t c = 0; c < b.N; ++c)
                next[r] += b.A(r, c) * x[s][c];
            for (uint32_t c = 0; c < b.nIn; ++c)
                next[r] += b.B(r, c) * u[s][c];
            for (uint32_t c = 0; c < b.nI; ++c)
                next[r] += b.C(r, c) * i[s][c];
        }
        x[s] = next;
        double y = 0.0;
        for (uint32_t c = 0; c < b.N; ++c)
            y += b.G(0, c) * x[s][c];
        for (uint32_t c = 0; c < b.nIn; ++c)
            y += b.H(0, c) * u[s][c];
        for (uint32_t c = 0; c < b.nI; ++c)
            y += b.K(0, c) * i[s][c];
        signal = y;
    }
    return signal;
}
