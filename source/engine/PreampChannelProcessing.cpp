// The audio path: per stage and sample, the prediction, the projection onto the network inputs, the
// search for the box whose network gives the currents, and the state update; the wavefront loops
// that run the four stages over a block, alone or two chains side by side. The functions the
// loops call per sample live here with them, so that the compiler can inline them into the loops.

#include "PreampChannel.h"

#include "NeuralNetRunner.h"
#include "PolyphaseFilter.h"
#include "PreampChannelShared.h"
#include "SSParamsVecAutomation.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

using velmorant::chain::allFinite;

namespace
{
constexpr uint8_t toneStage = 3;

// Narrowing a double beyond the float range is undefined; such values saturate instead, and NaN
// becomes silence.
float toSample(double value)
{
    if (std::isnan(value))
        return 0.0f;
    constexpr double largest = double(FLT_MAX);
    return float(value < -largest ? -largest : (value > largest ? largest : value));
}
} // namespace

// The currents the stage's networks give at predicted port voltages p, as a sample would take
// them: projection, the first box holding the input, and the stage's fallback. The rest search
// uses it; it is here for the box search it shares with the audio path.
void PreampChannel::networkCurrents(uint8_t stage, const std::vector<double>& p, std::vector<double>& currents)
{
    NonlinearStateSpaceSolver& solver = solvers[stage];
    std::copy(p.begin(), p.end(), solver.p.begin());
    double* input = networkInput[stage];
    if (projectionActive[stage])
        projectStage(stage);
    else
        std::copy(solver.p.begin(), solver.p.begin() + networkInputCount[stage], input);
    NeuralNetRunner* runner = findRunner(stage, input);
    if (runner == nullptr && stage == toneStage)
        std::fill(currents.begin(), currents.end(), 0.0);
    else
        (runner != nullptr ? runner : lastRunner[stage])->run(input, currents);
}

namespace
{
// Row r of the projection: +0.0 plus each enabled port voltage (in order) times the row's next
// entry. Width is the number of enabled port voltages; the common widths are unrolled.
inline __attribute__((always_inline)) void projectRows(const double* p, const uint32_t* enabled, uint32_t width,
                                                       const double* matrix, uint32_t rows, double* input)
{
    for (uint32_t r = 0; r < rows; ++r, matrix += width)
    {
        double sum = 0.0;
        for (uint32_t k = 0; k < width; ++k)
            sum += p[enabled[k]] * matrix[k];
        input[r] = sum;
    }
}
} // namespace

void PreampChannel::projectStage(uint8_t stage)
{
    const double* p = solvers[stage].p.data();
    const uint32_t* enabled = enabledVoltages[stage];
    const double* matrix = projectionMatrix[stage];
    const uint32_t rows = networkInputCount[stage];
    double* input = networkInput[stage];
    switch (enabledVoltageCount[stage])
    {
    case 2: projectRows(p, enabled, 2, matrix, rows, input); break;
    case 3: projectRows(p, enabled, 3, matrix, rows, input); break;
    case 4: projectRows(p, enabled, 4, matrix, rows, input); break;
    default: projectRows(p, enabled, enabledVoltageCount[stage], matrix, rows, input); break;
    }
}

namespace
{
// The input sample times the gain; anything non-finite enters the chain as silence.
float gainedInput(float sample, float gain)
{
    const float gained = sample * gain;
    return std::isfinite(gained) ? gained : 0.0f;
}

// The two chains' values of one quantity side by side, for the stereo loop at the host rate: each
// lane's result is what the chain's own scalar function gives, bit for bit, without its branches.

// gainedInput of both samples (gains: both chains' input gains), widened to double as the stages
// take them.
inline __m128d gainedInputs(float first, float second, __m128 gains)
{
    const __m128 gained = _mm_mul_ps(_mm_setr_ps(first, second, 0.0f, 0.0f), gains);
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), gained);
    return _mm_cvtps_pd(_mm_and_ps(gained, _mm_cmple_ps(magnitude, _mm_set1_ps(FLT_MAX))));
}

// Both values saturated to +-limit and narrowed to float, NaN as +0: toSample for limit FLT_MAX.
// For limit LevelRingBuffer::valueLimit it is toSample followed by the ring buffer's limit
// (narrowing keeps a value within a float limit within it, and one beyond it beyond it).
inline __m128 limitedSamples(__m128d values, double limit)
{
    const __m128d numbers = _mm_and_pd(values, _mm_cmpord_pd(values, values));
    return _mm_cvtpd_ps(_mm_min_pd(_mm_max_pd(numbers, _mm_set1_pd(-limit)), _mm_set1_pd(limit)));
}
} // namespace

namespace
{
// Whether the neighbour entry `bounds` (lower bounds, then upper bounds negated) holds the input:
// every bound below the matching entry of (input, -input), as PreampChannel::boxHolds decides
// it (strict comparisons, a NaN outside). For two or three inputs (Inputs) the bounds are
// compared two at a time and decided by one branch.
template <uint32_t Inputs>
struct NeighbourTest
{
    static_assert(Inputs == 2 || Inputs == 3, "pairs of inputs, and a third");

    // (input, -input) in registers, pair by pair.
    explicit NeighbourTest(const double* input)
    {
        const __m128d sign = _mm_set1_pd(-0.0);
        const __m128d first = _mm_loadu_pd(input);
        const __m128d negated = _mm_xor_pd(first, sign);
        signedInput[0] = first;
        if constexpr (Inputs == 2)
            signedInput[1] = negated;
        else
        {
            const __m128d third = _mm_load_sd(input + 2);
            signedInput[1] = _mm_unpacklo_pd(third, negated);
            signedInput[2] = _mm_shuffle_pd(negated, _mm_xor_pd(third, sign), 1);
        }
    }

    bool holds(const double* bounds) const
    {
        __m128d inside = _mm_cmplt_pd(_mm_loadu_pd(bounds), signedInput[0]);
        for (uint32_t k = 1; k < Inputs; ++k)
            inside = _mm_and_pd(inside, _mm_cmplt_pd(_mm_loadu_pd(bounds + 2 * k), signedInput[k]));
        return _mm_movemask_pd(inside) == 3;
    }

    __m128d signedInput[Inputs];
};

// Any other number of inputs, known at run time only.
template <>
struct NeighbourTest<0>
{
    NeighbourTest(const double* given, uint32_t count) : input(given), inputs(count) {}

    bool holds(const double* bounds) const
    {
        uint32_t inside = 0;
        while (inside < inputs && bounds[inside] < input[inside] && bounds[inputs + inside] < -input[inside])
            ++inside;
        return inside == inputs;
    }

    const double* input;
    uint32_t inputs;
};

template <uint32_t Inputs>
NeighbourTest<Inputs> neighbourTest(const double* input, uint32_t inputs)
{
    if constexpr (Inputs == 0)
        return NeighbourTest<0>(input, inputs);
    else
        return NeighbourTest<Inputs>(input);
}
} // namespace

// The index within the step of the first of the step's runners whose box holds the input, as the
// search in step order finds it, found faster (the step's runner count when none holds it): the
// matched box changes on a few percent of the samples, and then mostly to a neighbour. So the
// cores of the last match's neighbours (PreampChannel::neighbours) are tried first: a box whose
// core holds the input is the first match.
template <uint32_t Inputs>
inline __attribute__((always_inline)) uint32_t PreampChannel::findBoxOf(uint8_t stage, const double* input) const
{
    const uint32_t inputs = Inputs != 0 ? Inputs : networkInputCount[stage];
    const uint32_t count = stepRunnerCount[stage];
    if (count == 0)
        return count;
    const std::size_t boxWidth = 2u * std::size_t(inputs);
    const uint32_t last = uint32_t(lastRunner[stage] - stepRunners[stage]);
    const uint32_t* starts = stepNeighbourStart[stage];
    const std::size_t begin = starts[last] - starts[0], end = starts[last + 1] - starts[0];
    const uint32_t* listed = stepNeighbours[stage];
    const auto neighbourHolds = neighbourTest<Inputs>(input, inputs);
    const double* bounds = stepNeighbourCores[stage] + begin * boxWidth;
    for (std::size_t k = begin; k != end; ++k, bounds += boxWidth)
        if (neighbourHolds.holds(bounds))
            return listed[k];
    return findBoxBeyondCores<Inputs>(stage, input, begin, end);
}

// findBoxOf where no neighbour's core holds the input, apart so that the common path keeps few
// registers: a box c that holds the input is sought among the neighbours' boxes, then among the
// others from the last match outwards. Every box that holds the input overlaps c, so the earliest
// of them is c when c's core holds the input, else the earliest box of c's list of earlier
// overlapping boxes that holds it, or c itself.
template <uint32_t Inputs>
__attribute__((noinline)) uint32_t PreampChannel::findBoxBeyondCores(uint8_t stage, const double* input,
                                                                     std::size_t begin, std::size_t end) const
{
    const uint32_t inputs = Inputs != 0 ? Inputs : networkInputCount[stage];
    const uint32_t count = stepRunnerCount[stage];
    const std::size_t boxWidth = 2u * std::size_t(inputs);
    const uint32_t last = uint32_t(lastRunner[stage] - stepRunners[stage]);
    const uint32_t* listed = stepNeighbours[stage];
    const auto neighbourHolds = neighbourTest<Inputs>(input, inputs);
    uint32_t found = count;
    const double* bounds = stepNeighbourBoxes[stage] + begin * boxWidth;
    for (std::size_t k = begin; found == count && k != end; ++k, bounds += boxWidth)
        if (neighbourHolds.holds(bounds))
            found = listed[k];
    const double* boxes = stepBoxes[stage];
    const auto holds = [&](uint32_t k) { return boxHolds(boxes + k * boxWidth, input, inputs); };
    for (uint32_t distance = 1; found == count && (distance <= last || last + distance < count); ++distance)
    {
        if (last + distance < count && holds(last + distance))
            found = last + distance;
        else if (distance <= last && holds(last - distance))
            found = last - distance;
    }
    if (found == count || boxHolds(stepCores[stage] + found * boxWidth, input, inputs))
        return found;
    const std::size_t index = std::size_t(stepRunners[stage] - runners[stage]) + found;
    const uint32_t* earlier = earlierOverlaps[stage].data();
    for (uint32_t k = overlapStart[stage][index]; k < overlapStart[stage][index + 1]; ++k)
        if (holds(earlier[k]))
            return earlier[k];
    return found;
}

NeuralNetRunner* PreampChannel::findRunner(uint8_t stage, const double* input) const
{
    const uint32_t found = findBoxOf<0>(stage, input);
    return found != stepRunnerCount[stage] ? stepRunners[stage] + found : nullptr;
}

// The stage step up to the currents: prediction, network input, and the runner to evaluate
// (null when the tone stage found no box; its currents are then zero already).
NeuralNetRunner* PreampChannel::beginStage(uint8_t stage)
{
    NonlinearStateSpaceSolver& solver = solvers[stage];
    solver.predictPortVoltages(stageInputs[stage]);
    double* input = networkInput[stage];
    if (projectionActive[stage])
        projectStage(stage);
    else
        for (uint32_t k = 0; k < networkInputCount[stage]; ++k)
            input[k] = solver.p[k];

    // Most often the input lies in the core of the box that matched last: a part of it that no
    // earlier box overlaps. Then that box is the first match, found without a search.
    const uint32_t inputs = networkInputCount[stage];
    if (stepRunnerCount[stage] != 0 && boxHolds(lastCore[stage], input, inputs))
        return lastRunner[stage];
    NeuralNetRunner* runner = searchRunner(stage, input);
    if (runner == nullptr)
        std::fill(solver.i.begin(), solver.i.end(), 0.0);
    return runner;
}

template <uint32_t Inputs>
NeuralNetRunner* PreampChannel::searchRunnerOf(uint8_t stage, const double* input)
{
    const uint32_t found = findBoxOf<Inputs>(stage, input);
    if (found != stepRunnerCount[stage])
    {
        const uint32_t inputs = Inputs != 0 ? Inputs : networkInputCount[stage];
        lastCore[stage] = stepCores[stage] + std::size_t(found) * 2u * inputs;
        return lastRunner[stage] = stepRunners[stage] + found;
    }
    return stage != toneStage ? lastRunner[stage] : nullptr;
}

template NeuralNetRunner* PreampChannel::searchRunnerOf<0>(uint8_t stage, const double* input);
template NeuralNetRunner* PreampChannel::searchRunnerOf<2>(uint8_t stage, const double* input);
template NeuralNetRunner* PreampChannel::searchRunnerOf<3>(uint8_t stage, const double* input);

// The stage step after the currents: state update, output, and the next stage's input.
void PreampChannel::endStage(uint8_t stage)
{
    NonlinearStateSpaceSolver& solver = solvers[stage];
    SSParamsVecAutomation& block = *blocks[stage];
    std::vector<double>& u = stageInputs[stage];
    std::vector<double>& y = stageOutputs[stage];
    block.updateState(u, solver.i, solver.x, solver.xNew);
    solver.x.swap(solver.xNew);
    block.computeOutput(u, solver.x, solver.i, y);

    // A stage whose state or currents left the finite numbers would stay there for good:
    // put it back to its operating point instead.
    if (!allFinite(solver.x, solver.i, y[0]))
    {
        solver.returnToOperatingPoint();
        block.computeOutput(u, solver.x, solver.i, y);
        if (!std::isfinite(y[0]))
            y[0] = 0.0;
    }
    stageInputs[stage + 1][0] = y[0];
}

void PreampChannel::runStage(uint8_t stage)
{
    if (NeuralNetRunner* runner = beginStage(stage))
        runner->runListed(networkInput[stage], solvers[stage].i.data(), enabledCurrents[stage], enabledCurrentCount[stage]);
    endStage(stage);
}

void PreampChannel::beginStageAlone(uint8_t stage, double input)
{
    if (compiledActive[stage])
        return compiledStages[stage]->begin(input);
    stageInputs[stage][0] = input;
    runStage(stage);
    genericOutput[stage] = stageInputs[stage + 1][0];
}

void PreampChannel::evaluateStageAlone(uint8_t stage)
{
    if (compiledActive[stage])
        compiledStages[stage]->evaluate();
}

double PreampChannel::finishStageAlone(uint8_t stage)
{
    return compiledActive[stage] ? compiledStages[stage]->finish() : genericOutput[stage];
}

CompiledStage::PairTick PreampChannel::compiledPairTick(PreampChannel& second)
{
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        activeStages[stage] = compiledStages[stage].get();
        second.activeStages[stage] = second.compiledStages[stage].get();
    }
    return CompiledStage::pairTickFor(activeStages);
}

void PreampChannel::loadCompiledStage(uint8_t stage)
{
    if (compiledActive[stage])
        compiledStages[stage]->load();
}

void PreampChannel::storeCompiledStage(uint8_t stage)
{
    if (compiledActive[stage])
        compiledStages[stage]->store();
}

void PreampChannel::loadCompiledStages()
{
    for (uint8_t stage = 0; stage < stageCount; ++stage)
        loadCompiledStage(stage);
}

void PreampChannel::storeCompiledStages()
{
    for (uint8_t stage = 0; stage < stageCount; ++stage)
        storeCompiledStage(stage);
}

void PreampChannel::findLevelCurrent()
{
    // Without the current the level reads a zero, which it gives as 0.
    static const double noCurrent = 0.0;
    const std::vector<double>& currents = solvers[toneStage].i;
    levelCurrent = compiledActive[toneStage] ? compiledStages[toneStage]->currentOf(1)
                   : currents.size() > 1     ? &currents[1]
                                             : &noCurrent;
}

inline float PreampChannel::levelValue() const
{
    return toSample(*levelCurrent);
}

bool PreampChannel::readyFor(float* samples, uint32_t count)
{
    if (samples == nullptr || count == 0)
        return false;
    if (!isReady())
    {
        std::fill(samples, samples + count, 0.0f);
        return false;
    }
    return true;
}

uint32_t PreampChannel::subSampleCount() const
{
    return interpolator != nullptr && decimator != nullptr ? oversampling : 1;
}

// The input of stage 0 for sub-sample `phase` of a host sample (phase 0 takes the sample in).
// This, outputAfter and levelValue are inline: the processing loops below call them per sample.
inline double PreampChannel::stageInputFor(float sample, uint32_t phase)
{
    if (interpolator == nullptr)
        return double(gainedInput(sample, inputGain));
    if (phase == 0)
        interpolator->push(gainedInput(sample, inputGain));
    interpolator->advance();
    return double(interpolator->output());
}

// Takes the stages' output of sub-sample `phase`; the host sample's output (phase 0 only).
inline float PreampChannel::outputAfter(uint32_t phase)
{
    const double output = stageInputs[stageCount][0];
    if (phase == 0)
        levels.add(levelValue());
    if (decimator == nullptr)
        return toSample(double(outputGain) * output);
    decimator->push(toSample(output));
    decimator->advance();
    return phase == 0 ? decimator->output() * outputGain : 0.0f;
}

namespace
{
inline void setSignal(double& to, double signal) { to = signal; }

inline void setSignal(CompiledStage::SignalPair& to, __m128d signals)
{
    _mm_storeu_pd(&to.first, signals);
}

// Both chains' signals in one 16-byte store, which the stages' 16-byte load takes straight from it.
inline void setSignal(CompiledStage::SignalPair& to, const CompiledStage::SignalPair& signals)
{
    _mm_storeu_pd(&to.first, _mm_set_pd(signals.second, signals.first));
}

// Runs `subSamples` sub-samples through the stages as a wavefront: on each tick every stage takes
// the sub-sample its predecessor finished on the tick before. A stage's step depends only on its
// own state and its input, so each stage still steps through the sub-samples in order with the
// same inputs, and the outputs are those of running the stages one after another per sub-sample;
// but the stages of a tick are independent of each other, and the processor overlaps their work
// instead of waiting for each in turn. input(m) gives stage 0's input of sub-sample m,
// tick(firstStage, lastStage, inputs, outputs) steps the tick's stages, output(m, signal) takes the
// last stage's output of sub-sample m.
//
// signals[s] is stage s's input, and outputs = signals + 1: stage s finishes into the input of
// stage s + 1, which takes it on the next tick. No signal is copied between ticks, and none is
// overwritten too early: a tick begins all its stages before it finishes any.
template <class Signal, class Input, class Tick, class Output>
void runWavefront(uint32_t subSamples, Input input, Tick tick, Output output)
{
    constexpr uint32_t stages = PreampChannel::stageCount;
    Signal signals[stages + 1] = {};
    for (uint32_t m = 0; m < subSamples + stages - 1; ++m)
    {
        const uint32_t first = m < subSamples ? 0 : m - subSamples + 1;
        const uint32_t last = m < stages - 1 ? m : stages - 1;
        if (first == 0)
            setSignal(signals[0], input(m));
        tick(first, last, signals, signals + 1);
        if (last == stages - 1)
            output(m - last, signals[stages]);
    }
}

// A tick of steps in three parts (begin(stage, signal), evaluate(stage), finish(stage) giving the
// output), taken stage by stage part after part, the later stages first: a generic step does all
// its work in begin and writes its output where the next stage's input was.
template <class Signal, class Begin, class Evaluate, class Finish>
void tickInParts(uint32_t firstStage, uint32_t lastStage, const Signal* inputs, Signal* outputs, Begin begin,
                 Evaluate evaluate, Finish finish)
{
    for (uint32_t stage = lastStage + 1; stage-- > firstStage;)
        begin(stage, inputs[stage]);
    for (uint32_t stage = lastStage + 1; stage-- > firstStage;)
        evaluate(stage);
    for (uint32_t stage = lastStage + 1; stage-- > firstStage;)
        outputs[stage] = finish(stage);
}
} // namespace

// The tick of a chain whose stages all take compiled steps of the model data's kinds, or null.
CompiledStage::Tick PreampChannel::compiledTick()
{
    if (!std::all_of(std::begin(compiledActive), std::end(compiledActive), [](bool active) { return active; }))
        return nullptr;
    for (uint8_t stage = 0; stage < stageCount; ++stage)
        activeStages[stage] = compiledStages[stage].get();
    return CompiledStage::tickFor(activeStages);
}

void PreampChannel::tickAlone(uint32_t firstStage, uint32_t lastStage, const double* inputs, double* outputs,
                              CompiledStage::Tick compiled)
{
    if (compiled != nullptr)
        return compiled(activeStages, inputs, outputs, firstStage, lastStage);
    tickInParts(
        firstStage, lastStage, inputs, outputs,
        [&](uint32_t stage, double signal) { beginStageAlone(uint8_t(stage), signal); },
        [&](uint32_t stage) { evaluateStageAlone(uint8_t(stage)); },
        [&](uint32_t stage) { return finishStageAlone(uint8_t(stage)); });
}

void PreampChannel::process(float* samples, uint32_t count)
{
    if (!readyFor(samples, count))
        return;
    loadCompiledStages();
    findLevelCurrent();
    const CompiledStage::Tick compiled = compiledTick();
    runWavefront<double>(
        count, [&](uint32_t n) { return double(gainedInput(samples[n], inputGain)); },
        [&](uint32_t firstStage, uint32_t lastStage, const double* inputs, double* outputs) {
            tickAlone(firstStage, lastStage, inputs, outputs, compiled);
        },
        [&](uint32_t n, double signal) {
            stageInputs[stageCount][0] = signal;
            levels.add(levelValue());
            samples[n] = toSample(double(outputGain) * signal);
        });
    storeCompiledStages();
}

void PreampChannel::processOversampled(float* samples, uint32_t count)
{
    if (interpolator == nullptr || decimator == nullptr)
    {
        process(samples, count);
        return;
    }
    if (!readyFor(samples, count))
        return;
    loadCompiledStages();
    findLevelCurrent();
    const CompiledStage::Tick compiled = compiledTick();
    // Sub-sample m is phase m % oversampling of host sample m / oversampling; both ends count them
    // in order.
    uint32_t inputSample = 0, inputPhase = 0, outputSample = 0, outputPhase = 0;
    runWavefront<double>(
        count * oversampling,
        [&](uint32_t) {
            const double signal = stageInputFor(samples[inputSample], inputPhase);
            if (++inputPhase == oversampling)
                inputPhase = 0, ++inputSample;
            return signal;
        },
        [&](uint32_t firstStage, uint32_t lastStage, const double* inputs, double* outputs) {
            tickAlone(firstStage, lastStage, inputs, outputs, compiled);
        },
        [&](uint32_t, double signal) {
            stageInputs[stageCount][0] = signal;
            const float result = outputAfter(outputPhase);
            if (outputPhase == 0)
                samples[outputSample] = result;
            if (++outputPhase == oversampling)
                outputPhase = 0, ++outputSample;
        });
    storeCompiledStages();
}

// The same stage of both chains, side by side: each its generic step, the two networks evaluated
// together.
void PreampChannel::runGenericStagePair(PreampChannel& first, PreampChannel& second, uint8_t stage,
                                        double& firstSignal, double& secondSignal)
{
    first.stageInputs[stage][0] = firstSignal;
    second.stageInputs[stage][0] = secondSignal;
    NeuralNetRunner* firstRunner = first.beginStage(stage);
    NeuralNetRunner* secondRunner = second.beginStage(stage);
    NeuralNetRunner::runListedPair(firstRunner, first.networkInput[stage], first.solvers[stage].i.data(),
                                   first.enabledCurrents[stage], first.enabledCurrentCount[stage], secondRunner,
                                   second.networkInput[stage], second.solvers[stage].i.data(),
                                   second.enabledCurrents[stage], second.enabledCurrentCount[stage]);
    first.endStage(stage);
    second.endStage(stage);
    firstSignal = first.stageInputs[stage + 1][0];
    secondSignal = second.stageInputs[stage + 1][0];
}

void PreampChannel::processPair(PreampChannel& first, float* firstSamples, PreampChannel& second, float* secondSamples,
                                uint32_t count)
{
    const uint32_t phases = first.subSampleCount();
    if (phases != second.subSampleCount() || !first.isReady() || !second.isReady() || firstSamples == nullptr
        || secondSamples == nullptr)
    {
        first.processOversampled(firstSamples, count);
        second.processOversampled(secondSamples, count);
        return;
    }
    // How each stage of the two chains steps side by side: compiled as one when both take compiled
    // steps that can pair, generic together when neither takes one, else each alone.
    enum class Pairing { compiled, generic, alone };
    Pairing pairing[stageCount];
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        const bool firstCompiled = first.compiledActive[stage], secondCompiled = second.compiledActive[stage];
        pairing[stage] = firstCompiled && secondCompiled
                                 && first.compiledStages[stage]->canPairWith(*second.compiledStages[stage])
                             ? Pairing::compiled
                         : !firstCompiled && !secondCompiled ? Pairing::generic
                                                             : Pairing::alone;
        if (pairing[stage] == Pairing::compiled)
            first.compiledStages[stage]->loadPair(*second.compiledStages[stage]);
        else
            first.loadCompiledStage(stage), second.loadCompiledStage(stage);
    }
    // Both chains' stages all stepped as compiled pairs of the model data's kinds: their tick.
    const bool allPaired =
        std::all_of(std::begin(pairing), std::end(pairing), [](Pairing mode) { return mode == Pairing::compiled; });
    const CompiledStage::PairTick compiled = allPaired ? first.compiledPairTick(second) : nullptr;
    first.findLevelCurrent();
    second.findLevelCurrent();
    using Signals = CompiledStage::SignalPair;
    const auto tick = [&](uint32_t firstStage, uint32_t lastStage, const Signals* inputs, Signals* outputs) {
        if (compiled != nullptr)
            return compiled(first.activeStages, second.activeStages, inputs, outputs, firstStage, lastStage);
        tickInParts(
            firstStage, lastStage, inputs, outputs,
            [&](uint32_t stage, Signals signals) {
                if (pairing[stage] == Pairing::compiled)
                    first.compiledStages[stage]->beginPair(*second.compiledStages[stage], signals);
                else if (pairing[stage] == Pairing::generic)
                    runGenericStagePair(first, second, uint8_t(stage), signals.first, signals.second),
                        first.genericOutput[stage] = signals.first, second.genericOutput[stage] = signals.second;
                else
                    first.beginStageAlone(uint8_t(stage), signals.first),
                        second.beginStageAlone(uint8_t(stage), signals.second);
            },
            [&](uint32_t stage) {
                if (pairing[stage] == Pairing::compiled)
                    first.compiledStages[stage]->evaluatePair(*second.compiledStages[stage]);
                else if (pairing[stage] == Pairing::alone)
                    first.evaluateStageAlone(uint8_t(stage)), second.evaluateStageAlone(uint8_t(stage));
            },
            [&](uint32_t stage) {
                Signals signals{};
                if (pairing[stage] == Pairing::compiled)
                    first.compiledStages[stage]->finishPair(signals);
                else
                    signals = {first.finishStageAlone(uint8_t(stage)), second.finishStageAlone(uint8_t(stage))};
                return signals;
            });
    };
    if (phases == 1)
    {
        // At the host rate the loop's own work, input and output gain and both level values, is done
        // for the two chains at once.
        const __m128 inputGains = _mm_setr_ps(first.inputGain, second.inputGain, 0.0f, 0.0f);
        const __m128d outputGains = _mm_setr_pd(double(first.outputGain), double(second.outputGain));
        runWavefront<Signals>(
            count, [&](uint32_t n) { return gainedInputs(firstSamples[n], secondSamples[n], inputGains); }, tick,
            [&](uint32_t n, const Signals& signals) {
                const __m128 levelValues = limitedSamples(_mm_setr_pd(*first.levelCurrent, *second.levelCurrent),
                                                          double(LevelRingBuffer::valueLimit));
                first.levels.addWithinLimit(_mm_cvtss_f32(levelValues));
                second.levels.addWithinLimit(_mm_cvtss_f32(_mm_shuffle_ps(levelValues, levelValues, 1)));
                const __m128 results =
                    limitedSamples(_mm_mul_pd(outputGains, _mm_loadu_pd(&signals.first)), double(FLT_MAX));
                firstSamples[n] = _mm_cvtss_f32(results);
                secondSamples[n] = _mm_cvtss_f32(_mm_shuffle_ps(results, results, 1));
            });
    }
    else
    {
        // Sub-sample m is phase m % phases of host sample m / phases; both ends count them in order.
        uint32_t inputSample = 0, inputPhase = 0, outputSample = 0, outputPhase = 0;
        runWavefront<Signals>(
            count * phases,
            [&](uint32_t) {
                const Signals signals{first.stageInputFor(firstSamples[inputSample], inputPhase),
                                      second.stageInputFor(secondSamples[inputSample], inputPhase)};
                if (++inputPhase == phases)
                    inputPhase = 0, ++inputSample;
                return signals;
            },
            tick,
            [&](uint32_t, Signals signals) {
                first.stageInputs[stageCount][0] = signals.first;
                second.stageInputs[stageCount][0] = signals.second;
                const float firstResult = first.outputAfter(outputPhase);
                const float secondResult = second.outputAfter(outputPhase);
                if (outputPhase == 0)
                {
                    firstSamples[outputSample] = firstResult;
                    secondSamples[outputSample] = secondResult;
                }
                if (++outputPhase == phases)
                    outputPhase = 0, ++outputSample;
            });
    }
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        if (pairing[stage] == Pairing::compiled)
            first.compiledStages[stage]->storePair(*second.compiledStages[stage]);
        else
            first.storeCompiledStage(stage), second.storeCompiledStage(stage);
    }
}
