#include "RestAlignment.h"

#include <algorithm>
#include <cmath>

#include "DenseSolve.h"
#include "ModelFileAssembly.h"
#include "NeuralNetRunner.h"
#include "OperatingPoint.h"
#include "StepNetworks.h"

namespace modelgen
{

namespace
{
// Samples the stage runs from its rest at each rate: a stepping current shows within a few.
constexpr uint32_t checkedSamples = 4096;
constexpr int tries = 24;
// Weight changes that measure the rests' and the outputs' slopes: far above the outputs' rounding.
constexpr float biasProbe = 1e-4f;
constexpr float weightProbe = 1e-3f;
// Keeps the least-squares solution small where the rates' rests lie close together.
constexpr double ridge = 1e-9;

// p = D x + E u as the chain predicts it: the terms of zero entries left out.
void predict(const SSParamsVecAutomation& block, const std::vector<double>& u, const std::vector<double>& x,
             std::vector<double>& p)
{
    for (size_t a = 0; a < block.nV; ++a) {
        double sum = 0.0;
        for (size_t k = 0; k < block.N; ++k)
            if (block.D(a, k) != 0.0)
                sum += block.D(a, k) * x[k];
        for (size_t k = 0; k < block.nIn; ++k)
            if (block.E(a, k) != 0.0)
                sum += block.E(a, k) * u[k];
        p[a] = sum;
    }
}

double lastBit(double current)
{
    const float value = float(current);
    return double(std::nextafter(value, HUGE_VALF)) - double(value);
}

// The stage run from its rest at one rate.
struct RestRun
{
    uint32_t rate = 0;
    bool steady = false;  // the aligned current never left its rest value
    double mean = 0.0;    // its mean over the run
    std::vector<double> inputs;  // the network inputs at rest
    size_t network = 0;          // the network holding them
};

class RestAligner
{
public:
    RestAligner(StepModel& stepModel, bool projectedFile, SSParamsVecAutomation& stageBlock, double stageInput)
        : model(stepModel), projected(projectedFile), block(stageBlock), input(stageInput)
    {
        for (size_t k = 0; k < model.outputFlags.size(); ++k)
            if (model.outputFlags[k] == 1)
                enabled.push_back(k);
    }

    bool align(const std::vector<uint32_t>& rates)
    {
        std::vector<RestRun> runs;
        if (model.networks.empty() || !chooseCurrent() || !run(model, rates, runs))
            return false;
        const uint64_t before = steadyWeight(runs), all = totalWeight(runs);
        uint64_t best = before;
        StepModel bestModel = model, trial = model;
        for (int attempt = 0; attempt < tries && best < all; ++attempt) {
            if (!moveRests(trial, rates, runs) || !run(trial, rates, runs))
                break;
            if (steadyWeight(runs) > best) {
                best = steadyWeight(runs);
                bestModel = trial;
            }
        }
        if (best == before)
            return false;
        model = std::move(bestModel);
        return true;
    }

private:
    StepModel& model;
    bool projected;
    SSParamsVecAutomation& block;
    double input;
    std::vector<size_t> enabled;  // the currents the networks give, in their output order
    size_t aligned = 0;           // the aligned current's network output

    // The exactly resting rates, each weighing its rate: a stepping rest is louder the higher the
    // rate.
    static uint64_t steadyWeight(const std::vector<RestRun>& runs)
    {
        uint64_t sum = 0;
        for (const RestRun& r : runs)
            sum += r.steady ? r.rate : 0;
        return sum;
    }
    static uint64_t totalWeight(const std::vector<RestRun>& runs)
    {
        uint64_t sum = 0;
        for (const RestRun& r : runs)
            sum += r.rate;
        return sum;
    }

    // The current whose last bit moves the output most, at the block's rate.
    bool chooseCurrent()
    {
        StepNetworks networks(model, projected, block.nV, block.nI);
        const OperatingPoint rest = findNetworkOperatingPoint(block, input, networks, findOperatingPoint(block, input));
        if (rest.i.size() != block.nI || enabled.empty())
            return false;
        double loudest = -1.0;
        for (size_t j = 0; j < enabled.size(); ++j) {
            const double step = std::fabs(block.K(0, enabled[j])) * lastBit(rest.i[enabled[j]]);
            if (step > loudest) {
                loudest = step;
                aligned = j;
            }
        }
        return true;
    }

    size_t weightIndex(const TrainedNetwork& net, size_t hiddenOrBias) const
    {
        const size_t inputs = net.boxMin.size(), hidden = net.hiddenLayers.front();
        return hidden * (inputs + 1) + aligned * (hidden + 1) + hiddenOrBias;
    }

    // Runs the stage from where the chain starts it at every rate, as the chain steps it.
    bool run(const StepModel& candidate, const std::vector<uint32_t>& rates, std::vector<RestRun>& runs) const
    {
        StepNetworks networks(candidate, projected, block.nV, block.nI);
        const size_t b = enabled[aligned];
        std::vector<double> p(block.nV), next(block.N);
        runs.clear();
        for (uint32_t rate : rates) {
            block.setSampleRate(rate);
            const std::vector<double> u = stageInputs(block, input);
            const OperatingPoint rest =
                findNetworkOperatingPoint(block, input, networks, findOperatingPoint(block, input));
            if (rest.i.size() != block.nI)
                return false;
            RestRun restRun;
            restRun.rate = rate;
            restRun.inputs = networks.inputsAt(rest.p);
            restRun.network = networks.networkHolding(restRun.inputs);
            if (restRun.network == candidate.networks.size())
                return false;
            std::vector<double> x = rest.x, i = rest.i;
            restRun.steady = true;
            double sum = 0.0;
            for (uint32_t n = 0; n < checkedSamples; ++n) {
                predict(block, u, x, p);
                if (!networks.currents(p, i))
                    return false;
                restRun.steady = restRun.steady && i[b] == rest.i[b];
                sum += i[b];
                block.updateState(u, i, x, next);
                x.swap(next);
            }
            restRun.mean = sum / checkedSamples;
            runs.push_back(std::move(restRun));
        }
        return true;
    }

    // The aligned current as the network gives it at each rest's inputs.
    std::vector<double> outputsAt(const TrainedNetwork& net, const std::vector<RestRun>& runs) const
    {
        const auto inputs = uint16_t(net.boxMin.size());
        NeuralNetRunner runner(inputs, uint16_t(block.nI));
        if (projected)
            runner.load(*projectedRecord(net, inputs, block.nI));
        else
            runner.load(*standardRecord(net, inputs, block.nI));
        const std::vector<uint16_t> flags(model.outputFlags.begin(), model.outputFlags.end());
        runner.setOutputFlags(flags.data(), uint16_t(flags.size()));
        std::vector<double> given(block.nI), out;
        for (const RestRun& r : runs) {
            runner.run(r.inputs.data(), given);
            out.push_back(given[enabled[aligned]]);
        }
        return out;
    }

    // Changes the aligned current's output row in each network holding rests so that each stepping
    // rate's rest current (the mean of its steps) moves onto the nearest single-precision number and
    // the steady ones stay.
    bool moveRests(StepModel& candidate, const std::vector<uint32_t>& rates, const std::vector<RestRun>& runs) const
    {
        for (size_t network = 0; network < candidate.networks.size(); ++network) {
            std::vector<uint32_t> held;
            std::vector<RestRun> heldRuns;
            for (size_t r = 0; r < runs.size(); ++r)
                if (runs[r].network == network) {
                    held.push_back(rates[r]);
                    heldRuns.push_back(runs[r]);
                }
            if (!heldRuns.empty() && !moveRests(candidate, network, held, heldRuns))
                return false;
        }
        return true;
    }

    bool moveRests(StepModel& candidate, size_t network, const std::vector<uint32_t>& rates,
                   const std::vector<RestRun>& runs) const
    {
        TrainedNetwork& net = candidate.networks[network];
        const size_t R = runs.size(), W = net.hiddenLayers.front() + 1;
        const std::vector<double> base = outputsAt(net, runs);
        // How far each rest moves when the output moves: from a shift of the bias.
        std::vector<double> restPerOutput(R);
        {
            StepModel shifted = candidate;
            shifted.networks[network].weights[weightIndex(net, W - 1)] += biasProbe;
            const std::vector<double> moved = outputsAt(shifted.networks[network], runs);
            std::vector<RestRun> after;
            if (!run(shifted, rates, after))
                return false;
            for (size_t r = 0; r < R; ++r)
                restPerOutput[r] = (after[r].mean - runs[r].mean) / (moved[r] - base[r]);
        }
        // The output's slope in each weight of the row, at each rest.
        std::vector<double> slopes(R * W);
        for (size_t j = 0; j < W; ++j) {
            TrainedNetwork probe = net;
            float& weight = probe.weights[weightIndex(probe, j)];
            const float before = weight;
            weight += weightProbe;
            const double change = double(weight) - double(before);
            const std::vector<double> moved = outputsAt(probe, runs);
            for (size_t r = 0; r < R; ++r)
                slopes[r * W + j] = (moved[r] - base[r]) / change;
        }
        std::vector<double> wanted(R, 0.0);
        for (size_t r = 0; r < R; ++r)
            if (!runs[r].steady) {
                const double bit = lastBit(runs[r].mean);
                wanted[r] = (std::round(runs[r].mean / bit) * bit - runs[r].mean) / restPerOutput[r];
            }
        // (S^T S + ridge I) dw = S^T wanted
        std::vector<double> normal(W * W, 0.0), change(W, 0.0);
        double trace = 0.0;
        for (size_t a = 0; a < W; ++a) {
            for (size_t c = 0; c < W; ++c)
                for (size_t r = 0; r < R; ++r)
                    normal[a * W + c] += slopes[r * W + a] * slopes[r * W + c];
            for (size_t r = 0; r < R; ++r)
                change[a] += slopes[r * W + a] * wanted[r];
            trace += normal[a * W + a];
        }
        for (size_t a = 0; a < W; ++a)
            normal[a * W + a] += ridge * trace / double(W);
        if (!velmorant::solveInPlace(normal, change, W))
            return false;
        for (size_t j = 0; j < W; ++j) {
            float& weight = net.weights[weightIndex(net, j)];
            weight = float(double(weight) + change[j]);
        }
        return true;
    }
};
} // namespace

bool alignRest(StepModel& model, bool projected, SSParamsVecAutomation& block, double input,
               const std::vector<uint32_t>& rates)
{
    return RestAligner(model, projected, block, input).align(rates);
}

std::vector<uint32_t> restAlignmentRates()
{
    return {32000, 44100, 48000, 50000, 64000, 88200, 96000, 128000, 176400, 192000, 384000};
}

} // namespace modelgen
