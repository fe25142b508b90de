#include "PreampChannel.h"

#include "AlignedMemory.h"
#include "ModelFileF.h"
#include "NetworkFactory.h"
#include "NeuralNetRunner.h"
#include "OversamplingCoefficients.h"
#include "PCAModelFileF.h"
#include "PolyphaseFilter.h"
#include "SSParamsVecAutomation.h"
#include "StageModelCheck.h"
#include "StageRestPoint.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <string>

using velmorant::alignedAllocate;
using velmorant::alignedFree;

namespace
{
constexpr uint32_t defaultBaseRate = 44100;
constexpr uint8_t toneStage = 3;
// Any projection entry further than this from the identity's makes the projection active.
constexpr double identityTolerance = 2.384185791015625e-7; // 2^-22
// Rates are compared as whole hertz; doubles beyond this cannot be truncated to 64 bits.
constexpr double largestTruncatableRate = 9.2e18;

// Whether every value of x, of i and y are finite, in one test: a value times 0 is 0 when it
// is finite and NaN when it is not, and a sum with a NaN in it is NaN.
bool allFinite(const std::vector<double>& x, const std::vector<double>& i, double y)
{
    double probe = y * 0.0;
    for (double value : x)
        probe += value * 0.0;
    for (double value : i)
        probe += value * 0.0;
    return probe == probe;
}

// Narrowing a double beyond the float range is undefined; such values saturate instead, and NaN
// becomes silence.
float toSample(double value)
{
    if (std::isnan(value))
        return 0.0f;
    constexpr double largest = double(FLT_MAX);
    return float(value < -largest ? -largest : (value > largest ? largest : value));
}

const ModelChunk& standardChunk(const BaseModelFileF* file, uint32_t index)
{
    return *static_cast<const ModelFileF*>(file)->groups[0]->chunks[index];
}

const PCAModelChunk& projectedChunk(const BaseModelFileF* file, uint32_t index)
{
    return *static_cast<const PCAModelFileF*>(file)->groups[0]->chunks[index];
}

void destroyFilter(PolyphaseFilter*& filter)
{
    if (filter != nullptr)
        filter->destroy();
    filter = nullptr;
}

// A rate record matches when its rate, truncated toward zero, has the internal rate as low 32 bits.
bool rateMatches(double recordRate, uint32_t internalRate)
{
    if (!(std::fabs(recordRate) < largestTruncatableRate))
        return false;
    return uint32_t(uint64_t(int64_t(recordRate))) == internalRate;
}
} // namespace

PreampChannel::PreampChannel()
    : blocks{},
      modelFiles{},
      projectedStage{},
      baseRate(0),
      internalRate(0),
      oversampling(1),
      interpolator(nullptr),
      decimator(nullptr),
      networkTotal{},
      stepCount{},
      currentStep{},
      runners{},
      stepRunners{},
      stepRunnerCount{},
      lastRunner{},
      lastCore{},
      boxTable{},
      stepBoxes{},
      stepCores{},
      projectionWidth{},
      networkInputCount{},
      stageInputMask{},
      enabledVoltages{},
      enabledVoltageCount{},
      projectionMatrix{},
      networkInput{},
      stageOutputFlags{},
      enabledCurrents{},
      enabledCurrentCount{},
      projectionActive{},
      inputGain(1.0f),
      outputGain(1.0f),
      compiledActive{},
      stageValid{},
      genericOutput{},
      activeStages{}
{
    stageInputs[stageCount].assign(1, 0.0);
}

PreampChannel::~PreampChannel()
{
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        delete modelFiles[stage];
        freeNetworks(stage, networkTotal[stage]);
        freeStageBuffers(stage);
    }
    destroyFilter(interpolator);
    destroyFilter(decimator);
}

bool PreampChannel::isReady() const
{
    return std::all_of(std::begin(stageValid), std::end(stageValid), [](bool valid) { return valid; });
}

// ---------------------------------------------------------------------------------------------
// Loading

bool PreampChannel::loadStage(uint8_t stage, SSParamsVecAutomation* block, const char* path, bool projected)
{
    if (stage >= stageCount)
    {
        lastErrorText = "stage " + std::to_string(stage) + " does not exist";
        return false;
    }
    projectedStage[stage] = projected;
    blocks[stage] = block;
    delete modelFiles[stage];
    modelFiles[stage] = nullptr;
    if (block == nullptr)
        return failStage(stage, "no circuit block");
    if (block->nIn < block->firstConstantInput + block->constantInputCount || block->nIn == 0 || block->nOut == 0)
        return failStage(stage, "circuit block has inconsistent input counts");
    if (path == nullptr)
        return failStage(stage, "no model file path");

    BaseModelFileF* file = projected ? static_cast<BaseModelFileF*>(new PCAModelFileF)
                                     : static_cast<BaseModelFileF*>(new ModelFileF);
    modelFiles[stage] = file;
    if (file->openForRead(path) == nullptr)
        return failStage(stage, std::string(path) + ": " + file->lastError());
    const bool readOk = file->read() != 0;
    file->close();
    if (!readOk)
        return failStage(stage, std::string(path) + ": " + file->lastError());
    std::string reason;
    if (!checkStageModel(*file, StageModelShape{block->nV, block->nI, block->N, block->stepCount}, reason))
        return failStage(stage, std::string(path) + ": " + reason);

    const uint32_t previousTotal = networkTotal[stage];
    stepCount[stage] = projected ? static_cast<PCAModelFileF*>(file)->groups[0]->chunkCount
                                 : static_cast<ModelFileF*>(file)->groups[0]->chunkCount;
    uint32_t total = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
        total += projected ? projectedChunk(file, chunk).netCount : standardChunk(file, chunk).netCount;

    freeStageBuffers(stage);
    stageInputMask[stage] = alignedAllocate<uint32_t>(block->nV);
    enabledVoltages[stage] = alignedAllocate<uint32_t>(block->nV);
    stageOutputFlags[stage] = alignedAllocate<uint16_t>(block->nI);
    enabledCurrents[stage] = alignedAllocate<uint32_t>(block->nI);

    NonlinearStateSpaceSolver& solver = solvers[stage];
    solver.init(block->N, block->nIn, block->nV, block->nI, block->nOut);
    stageInputs[stage].resize(block->nIn, 0.0);
    stageOutputs[stage].resize(block->nOut, 0.0);

    // A network that cannot be built gives zero currents in its box; the stage works on.
    if (const uint32_t unbuilt = buildNetworks(stage, previousTotal, total))
        lastErrorText = "stage " + std::to_string(stage) + ": " + path + ": " + std::to_string(unbuilt) + " of "
                        + std::to_string(total) + " networks could not be built; they give zero currents";
    fillBoxTable(stage);

    // The step references must point into the new runners before anything can process.
    currentStep[stage] = std::min(currentStep[stage], stepCount[stage] - 1);
    loadStepProjection(stage, currentStep[stage]);
    selectStepRunners(stage, currentStep[stage]);
    compiledStages[stage] = CompiledStage::compile(*this, stage);
    refreshCompiledStage(stage);
    stageValid[stage] = true;
    return true;
}

bool PreampChannel::failStage(uint8_t stage, const std::string& reason)
{
    stageValid[stage] = false;
    compiledStages[stage].reset();
    compiledActive[stage] = false;
    lastErrorText = "stage " + std::to_string(stage) + ": " + reason;
    delete modelFiles[stage];
    modelFiles[stage] = nullptr;
    freeNetworks(stage, networkTotal[stage]);
    networkTotal[stage] = 0;
    stepCount[stage] = 0;
    freeStageBuffers(stage);
    return false;
}

uint32_t PreampChannel::buildNetworks(uint8_t stage, uint32_t previousCount, uint32_t total)
{
    freeNetworks(stage, previousCount);
    const BaseModelFileF* file = modelFiles[stage];
    const SSParamsVecAutomation& block = *blocks[stage];
    runners[stage] = static_cast<NeuralNetRunner*>(velmorant::alignedAllocateBytes(std::size_t(total) * sizeof(NeuralNetRunner)));
    // Counted as they are constructed, so that freeing after a failure destroys exactly these.
    networkTotal[stage] = 0;

    const uint16_t outputs = uint16_t(block.nI);
    NetworkFactory factory;
    uint32_t unbuilt = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
    {
        if (projectedStage[stage])
        {
            const PCAModelChunk& source = projectedChunk(file, chunk);
            for (uint32_t net = 0; net < source.netCount; ++net)
            {
                NeuralNetRunner* runner = new (runners[stage] + networkTotal[stage]++) NeuralNetRunner(uint16_t(source.projectedInputs), outputs);
                runner->setOutputFlags(stageOutputFlags[stage], outputs);
                unbuilt += runner->load(*source.nets[net], factory) ? 0 : 1;
            }
        }
        else
        {
            const ModelChunk& source = standardChunk(file, chunk);
            for (uint32_t net = 0; net < source.netCount; ++net)
            {
                NeuralNetRunner* runner = new (runners[stage] + networkTotal[stage]++) NeuralNetRunner(uint16_t(block.nV), outputs);
                runner->setOutputFlags(stageOutputFlags[stage], outputs);
                unbuilt += runner->load(*source.nets[net], factory) ? 0 : 1;
            }
        }
    }
    return unbuilt;
}

void PreampChannel::fillBoxTable(uint8_t stage)
{
    const uint32_t total = networkTotal[stage];
    alignedFree(boxTable[stage]);
    boxTable[stage] = nullptr;
    std::size_t width = 0;
    for (uint32_t k = 0; k < total; ++k)
        width += 2u * std::size_t(runners[stage][k].inputCount);
    boxTable[stage] = alignedAllocate<double>(width);
    double* next = boxTable[stage];
    for (uint32_t k = 0; k < total; ++k)
    {
        const NeuralNetRunner& runner = runners[stage][k];
        next = std::copy(runner.boxMin, runner.boxMin + runner.inputCount, next);
        next = std::copy(runner.boxMax, runner.boxMax + runner.inputCount, next);
    }
    listEarlierOverlaps(stage);
}

namespace
{
// Whether two open boxes share a point: in every input each begins before the other ends. A box
// with a NaN bound holds nothing and shares nothing.
bool boxesOverlap(const double* a, const double* b, uint32_t inputs)
{
    for (uint32_t k = 0; k < inputs; ++k)
        if (!(a[k] < b[inputs + k] && b[k] < a[inputs + k]))
            return false;
    return true;
}

// Whether two boxes share a point of their closures: in every input each begins before or where
// the other ends. A box with a NaN bound touches nothing.
bool boxesTouch(const double* a, const double* b, uint32_t inputs)
{
    for (uint32_t k = 0; k < inputs; ++k)
        if (!(a[k] <= b[inputs + k] && b[k] <= a[inputs + k]))
            return false;
    return true;
}

// The part of the step's input space its boxes divide, as a box: in each input, from the lowest
// to the highest bound that is a number (the largest float and beyond stand for no bound),
// widened on each side by that width (or by 1 where it is 0), since the signals also pass
// beyond the outermost cuts. Without such a bound in an input, that input's span is empty.
std::vector<double> dividedSpan(const double* boxes, uint32_t count, uint32_t inputs)
{
    std::vector<double> span(2u * std::size_t(inputs));
    std::fill(span.begin(), span.begin() + inputs, double(FLT_MAX));
    std::fill(span.begin() + inputs, span.end(), -double(FLT_MAX));
    for (uint32_t box = 0; box < count; ++box)
        for (uint32_t k = 0; k < 2u * inputs; ++k)
        {
            const double bound = boxes[box * 2u * inputs + k];
            if (std::fabs(bound) < double(FLT_MAX))
                span[k % inputs] = std::min(span[k % inputs], bound),
                              span[inputs + k % inputs] = std::max(span[inputs + k % inputs], bound);
        }
    for (uint32_t k = 0; k < inputs; ++k)
    {
        const double width = span[inputs + k] - span[k];
        const double margin = width > 0.0 ? width : 1.0;
        if (width >= 0.0)
            span[k] -= margin, span[inputs + k] += margin;
    }
    return span;
}

// Shrinks the open box `core` until it shares no point with the open box `other`: in one input,
// its lower bound rises to other's upper bound or its upper bound falls to other's lower bound,
// whichever keeps the larger share of that input's width within the step's span (a box open
// to the largest float would otherwise count any finite cut as no loss).
void shedFromCore(double* core, const double* other, const double* span, uint32_t inputs)
{
    // Without inputs every box holds everything, and the first one always matches.
    if (inputs == 0 || !boxesOverlap(core, other, inputs))
        return;
    double bestShare = -1.0;
    double* bound = &core[0];
    double value = 0.0; // without a choice, the core ends up empty: 0 < x < 0 never holds
    for (uint32_t k = 0; k < inputs; ++k)
    {
        const double low = std::max(core[k], span[k]), high = std::min(core[inputs + k], span[inputs + k]);
        const double width = high - low;
        if (!(width > 0.0))
            continue;
        const double raised = (high - std::max(other[inputs + k], low)) / width;
        const double lowered = (std::min(other[k], high) - low) / width;
        if (raised > bestShare)
            bestShare = raised, bound = &core[k], value = other[inputs + k];
        if (lowered > bestShare)
            bestShare = lowered, bound = &core[inputs + k], value = other[k];
    }
    *bound = value;
    if (bestShare < 0.0)
        core[0] = core[inputs] = 0.0;
}
} // namespace

void PreampChannel::listEarlierOverlaps(uint8_t stage)
{
    std::vector<uint32_t>& start = overlapStart[stage];
    std::vector<uint32_t>& list = earlierOverlaps[stage];
    std::vector<double>& cores = coreTable[stage];
    std::vector<uint32_t>& touchingStart = neighbourStart[stage];
    std::vector<uint32_t>& touching = neighbours[stage];
    start.assign(1, 0u);
    list.clear();
    cores.clear();
    touchingStart.assign(1, 0u);
    touching.clear();
    const double* stepBox = boxTable[stage];
    uint32_t first = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
    {
        const uint32_t count = projectedStage[stage] ? projectedChunk(modelFiles[stage], chunk).netCount
                                                     : standardChunk(modelFiles[stage], chunk).netCount;
        const uint32_t inputs = count != 0 ? runners[stage][first].inputCount : 0;
        const std::size_t boxWidth = 2u * std::size_t(inputs);
        const std::vector<double> span = dividedSpan(stepBox, count, inputs);
        for (uint32_t k = 0; k < count; ++k)
        {
            const double* box = stepBox + k * boxWidth;
            double* core = &*cores.insert(cores.end(), box, box + boxWidth);
            for (uint32_t earlier = 0; earlier < k; ++earlier)
                if (boxesOverlap(stepBox + earlier * boxWidth, box, inputs))
                {
                    list.push_back(earlier);
                    shedFromCore(core, stepBox + earlier * boxWidth, span.data(), inputs);
                }
            start.push_back(uint32_t(list.size()));
            for (uint32_t other = 0; other < count; ++other)
                if (other != k && boxesTouch(stepBox + other * boxWidth, box, inputs))
                    touching.push_back(other);
            touchingStart.push_back(uint32_t(touching.size()));
        }
        stepBox += count * boxWidth;
        first += count;
    }
}

void PreampChannel::freeNetworks(uint8_t stage, uint32_t count)
{
    if (runners[stage] == nullptr)
        return;
    for (uint32_t k = 0; k < count; ++k)
        runners[stage][k].~NeuralNetRunner();
    alignedFree(runners[stage]);
    alignedFree(boxTable[stage]);
    runners[stage] = nullptr;
    boxTable[stage] = nullptr;
    overlapStart[stage].clear();
    earlierOverlaps[stage].clear();
    neighbourStart[stage].clear();
    neighbours[stage].clear();
    coreTable[stage].clear();
    stepBoxes[stage] = nullptr;
    stepCores[stage] = nullptr;
    stepRunners[stage] = nullptr;
    lastRunner[stage] = nullptr;
    lastCore[stage] = nullptr;
    stepRunnerCount[stage] = 0;
}

void PreampChannel::freeStageBuffers(uint8_t stage)
{
    alignedFree(stageInputMask[stage]);
    alignedFree(enabledVoltages[stage]);
    alignedFree(projectionMatrix[stage]);
    alignedFree(networkInput[stage]);
    alignedFree(stageOutputFlags[stage]);
    alignedFree(enabledCurrents[stage]);
    stageInputMask[stage] = nullptr;
    enabledVoltages[stage] = nullptr;
    enabledVoltageCount[stage] = 0;
    projectionMatrix[stage] = nullptr;
    networkInput[stage] = nullptr;
    stageOutputFlags[stage] = nullptr;
    enabledCurrents[stage] = nullptr;
    enabledCurrentCount[stage] = 0;
    projectionWidth[stage] = 0;
    networkInputCount[stage] = 0;
    projectionActive[stage] = false;
}

// ---------------------------------------------------------------------------------------------
// Preparation and pot steps

void PreampChannel::prepare(uint32_t rate, uint32_t factor)
{
    destroyFilter(interpolator);
    destroyFilter(decimator);
    baseRate = rate == 0 ? defaultBaseRate : rate;
    oversampling = factor;
    if (const float* coefficients = oversamplingCoefficients(factor))
    {
        const uint16_t taps = uint16_t(16u * factor);
        interpolator = new PolyphaseFilter(taps, uint16_t(factor), coefficients);
        decimator = new PolyphaseFilter(taps, 1, coefficients);
    }
    else
    {
        oversampling = 1;
    }

    const bool first = internalRate == 0;
    internalRate = baseRate * oversampling;
    bool recordMatched[stageCount] = {};
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        if (!stageValid[stage])
            continue;
        SSParamsVecAutomation& block = *blocks[stage];
        recordMatched[stage] = selectEntriesForRate(stage, currentStep[stage], first);
        // The rest is searched with the stage's own step: the block may still hold the step that
        // another chain sharing it, or its construction, left in it.
        block.setStep(currentStep[stage]);
        block.setSampleRate(double(internalRate));
        solvers[stage].copyMatrices(block);
        refreshCompiledStage(stage);
        for (uint32_t k = 0; k < block.constantInputCount; ++k)
            stageInputs[stage][block.firstConstantInput + k] = block.getParam(k);
    }
    if (isReady())
        startAtRest(first, recordMatched);
}

// A rate record holds where the stage rests at that rate when fed the rest level its file was made
// for. Stages 1 to 3 serve both channels, whose input stages rest a little apart, and a rate
// without a record has none: started from the record as it stands, the chain would drift to its
// own rest with a thump that the gain stages amplify. So each stage starts where its networks
// rest, fed the rest output of the stage before, searched from the matching record (or the
// nearest rate's). The operating point (p0, i0, x0) stays the record's.
void PreampChannel::startAtRest(bool first, const bool* recordMatched)
{
    double restInput = 0.0;
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        NonlinearStateSpaceSolver& solver = solvers[stage];
        std::vector<double> u = stageInputs[stage];
        u[0] = restInput;
        const StageRestPoint rest(*blocks[stage], u);
        if (!rest.valid())
            return;
        std::vector<double> currents = solver.i0;
        if (!recordMatched[stage])
            nearestRecordCurrents(stage, currents);
        const std::vector<double> predicted = solver.p;
        const auto model = [&](const std::vector<double>& p, std::vector<double>& i) {
            networkCurrents(stage, p, i);
            return true;
        };
        rest.settle(model, currents);
        solver.p = predicted;
        std::vector<double> x, p;
        double output = 0.0;
        rest.complete(currents, x, p, output);
        if (!allFinite(x, p, output))
            return;
        solver.x = x;
        if (first)
        {
            solver.p = p;
            solver.i = currents;
        }
        restInput = output;
    }
}

void PreampChannel::nearestRecordCurrents(uint8_t stage, std::vector<double>& currents) const
{
    const std::vector<double>& keys = projectedStage[stage] ? projectedChunk(modelFiles[stage], currentStep[stage]).keys
                                                            : standardChunk(modelFiles[stage], currentStep[stage]).keys;
    const NonlinearStateSpaceSolver& solver = solvers[stage];
    const std::size_t recordLength = 1u + std::size_t(solver.nV) + solver.nI + solver.N;
    const double recordCount = keys.empty() ? 0.0 : keys[0];
    double nearest = HUGE_VAL;
    for (std::size_t j = 0; recordCount > double(j) && 1 + (j + 1) * recordLength <= keys.size(); ++j)
    {
        const double* record = keys.data() + 1 + j * recordLength;
        const double distance = std::fabs(std::log(record[0] / double(internalRate)));
        if (!(distance < nearest))
            continue;
        nearest = distance;
        const double* recorded = record + 1 + solver.nV;
        std::copy(recorded, recorded + solver.nI, currents.begin());
    }
}

// The currents the stage's networks give at predicted port voltages p, as a sample would take
// them: projection, the first box holding the input, and the stage's fallback.
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

bool PreampChannel::selectEntriesForRate(uint8_t stage, uint32_t step, bool first)
{
    if (internalRate == 0)
        return false;
    const std::vector<double>& keys = projectedStage[stage] ? projectedChunk(modelFiles[stage], step).keys
                                                            : standardChunk(modelFiles[stage], step).keys;
    NonlinearStateSpaceSolver& solver = solvers[stage];
    const std::size_t recordLength = 1u + std::size_t(solver.nV) + solver.nI + solver.N;
    const double recordCount = keys.empty() ? 0.0 : keys[0];
    bool matched = false;
    for (std::size_t j = 0; recordCount > double(j) && 1 + (j + 1) * recordLength <= keys.size(); ++j)
    {
        const double* record = keys.data() + 1 + j * recordLength;
        if (!rateMatches(record[0], internalRate))
            continue;
        const double* values = record + 1;
        std::copy(values, values + solver.nV, solver.p0.begin());
        values += solver.nV;
        std::copy(values, values + solver.nI, solver.i0.begin());
        values += solver.nI;
        std::copy(values, values + solver.N, solver.x0.begin());
        matched = true;
        break;
    }
    if (first)
    {
        solver.p = solver.p0;
        solver.i = solver.i0;
    }
    solver.x = solver.x0;
    return matched;
}

void PreampChannel::setStageStep(uint8_t stage, uint32_t step)
{
    if (stage >= stageCount)
        return;
    if (!stageValid[stage])
    {
        currentStep[stage] = step;
        return;
    }
    if (step >= stepCount[stage])
        step = stepCount[stage] - 1;
    loadStepProjection(stage, step);
    currentStep[stage] = step;
    blocks[stage]->setStep(step);
    solvers[stage].copyMatrices(*blocks[stage]);
    selectStepRunners(stage, step);
    refreshCompiledStage(stage);
}

void PreampChannel::refreshCompiledStage(uint8_t stage)
{
    compiledActive[stage] = compiledStages[stage] && compiledStages[stage]->refresh();
}

void PreampChannel::selectStepRunners(uint8_t stage, uint32_t step)
{
    uint32_t first = 0;
    for (uint32_t chunk = 0; chunk < step; ++chunk)
        first += projectedStage[stage] ? projectedChunk(modelFiles[stage], chunk).netCount
                                       : standardChunk(modelFiles[stage], chunk).netCount;
    stepRunners[stage] = runners[stage] + first;
    // Steps of a projected file may differ in input count, so the boxes before are summed.
    std::size_t boxOffset = 0;
    for (uint32_t k = 0; k < first; ++k)
        boxOffset += 2u * std::size_t(runners[stage][k].inputCount);
    stepBoxes[stage] = boxTable[stage] + boxOffset;
    stepCores[stage] = coreTable[stage].data() + boxOffset;
    stepRunnerCount[stage] = projectedStage[stage] ? projectedChunk(modelFiles[stage], step).netCount
                                                   : standardChunk(modelFiles[stage], step).netCount;
    lastRunner[stage] = stepRunners[stage];
    lastCore[stage] = stepCores[stage];
}


void PreampChannel::resizeNetworkArrays(uint8_t stage, uint32_t inputs, uint32_t width)
{
    const bool inputsChanged = inputs != networkInputCount[stage] || networkInput[stage] == nullptr;
    if (inputsChanged)
    {
        alignedFree(networkInput[stage]);
        networkInput[stage] = nullptr;
        networkInput[stage] = alignedAllocate<double>(inputs);
    }
    if (inputsChanged || width != projectionWidth[stage] || projectionMatrix[stage] == nullptr)
    {
        alignedFree(projectionMatrix[stage]);
        projectionMatrix[stage] = nullptr;
        projectionMatrix[stage] = alignedAllocate<double>(std::size_t(inputs) * width);
    }
    networkInputCount[stage] = inputs;
    projectionWidth[stage] = width;
}

void PreampChannel::loadStepProjection(uint8_t stage, uint32_t step)
{
    loadStepMaskAndMatrix(stage, step);
    enabledCurrentCount[stage] = 0;
    for (uint32_t k = 0; k < blocks[stage]->nI; ++k)
        if (stageOutputFlags[stage][k] == 1)
            enabledCurrents[stage][enabledCurrentCount[stage]++] = k;
}

void PreampChannel::loadStepMaskAndMatrix(uint8_t stage, uint32_t step)
{
    const uint32_t nV = blocks[stage]->nV;
    const uint32_t nI = blocks[stage]->nI;
    projectionActive[stage] = false;
    if (!projectedStage[stage])
    {
        std::fill(stageInputMask[stage], stageInputMask[stage] + nV, 1u);
        std::fill(stageOutputFlags[stage], stageOutputFlags[stage] + nI, uint16_t(1));
        resizeNetworkArrays(stage, nV, nV);
        for (uint32_t r = 0; r < nV; ++r)
            for (uint32_t c = 0; c < nV; ++c)
                projectionMatrix[stage][std::size_t(r) * nV + c] = r == c ? 1.0 : 0.0;
        return;
    }

    const PCAModelChunk& chunk = projectedChunk(modelFiles[stage], step);
    std::copy(chunk.inputMask.begin(), chunk.inputMask.begin() + nV, stageInputMask[stage]);
    enabledVoltageCount[stage] = 0;
    for (uint32_t c = 0; c < nV; ++c)
        if (stageInputMask[stage][c] == 1)
            enabledVoltages[stage][enabledVoltageCount[stage]++] = c;
    for (uint32_t k = 0; k < nI; ++k)
        stageOutputFlags[stage][k] = uint16_t(chunk.outputFlags[k] & 0xFFFFu);
    const uint32_t rows = chunk.projectedInputs;
    const uint32_t columns = chunk.projectionColumns;
    resizeNetworkArrays(stage, rows, columns);
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < columns; ++c)
        {
            const double element = chunk.projection[std::size_t(c) * rows + r];
            projectionMatrix[stage][std::size_t(r) * columns + c] = element;
            if (std::fabs(element - (r == c ? 1.0 : 0.0)) > identityTolerance)
                projectionActive[stage] = true;
        }
}

// ---------------------------------------------------------------------------------------------
// Audio path

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
} // namespace

// The first of the step's runners whose box holds the input, as the search in step order finds
// it, found faster: the matched box changes on a few percent of the samples, and then mostly to
// a neighbour. So the box that matched last is tried first, then the boxes touching it, then the
// others from it outwards. Every box that holds the input overlaps the box c found that way, so
// the earliest of them is c when c's core holds the input, else the earliest box of c's list of
// earlier overlapping boxes that holds it, or c itself.
template <uint32_t Inputs>
NeuralNetRunner* PreampChannel::findRunnerOf(uint8_t stage, const double* input) const
{
    const uint32_t inputs = Inputs != 0 ? Inputs : networkInputCount[stage];
    const uint32_t count = stepRunnerCount[stage];
    const std::size_t boxWidth = 2u * std::size_t(inputs);
    const double* boxes = stepBoxes[stage];
    const auto holds = [&](uint32_t k) { return boxHolds(boxes + k * boxWidth, input, inputs); };

    const uint32_t last = uint32_t(lastRunner[stage] - stepRunners[stage]);
    const std::size_t stepStart = std::size_t(stepRunners[stage] - runners[stage]);
    uint32_t found = count;
    if (count != 0 && holds(last))
        found = last;
    if (count != 0 && found == count)
    {
        const uint32_t* touching = neighbours[stage].data();
        const uint32_t end = neighbourStart[stage][stepStart + last + 1];
        for (uint32_t k = neighbourStart[stage][stepStart + last]; found == count && k != end; ++k)
            if (holds(touching[k]))
                found = touching[k];
    }
    for (uint32_t distance = 1; found == count && (distance <= last || last + distance < count); ++distance)
    {
        if (last + distance < count && holds(last + distance))
            found = last + distance;
        else if (distance <= last && holds(last - distance))
            found = last - distance;
    }
    if (found == count)
        return nullptr;

    if (boxHolds(stepCores[stage] + found * boxWidth, input, inputs))
        return stepRunners[stage] + found;
    const std::size_t index = stepStart + found;
    const uint32_t* earlier = earlierOverlaps[stage].data();
    for (uint32_t k = overlapStart[stage][index]; k < overlapStart[stage][index + 1]; ++k)
        if (holds(earlier[k]))
            return stepRunners[stage] + earlier[k];
    return stepRunners[stage] + found;
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
    if (NeuralNetRunner* matched = findRunnerOf<Inputs>(stage, input))
    {
        const uint32_t inputs = Inputs != 0 ? Inputs : networkInputCount[stage];
        lastCore[stage] = stepCores[stage] + std::size_t(matched - stepRunners[stage]) * 2u * inputs;
        return lastRunner[stage] = matched;
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
    const std::vector<double>& currents = solvers[toneStage].i;
    levelCurrent = compiledActive[toneStage] ? compiledStages[toneStage]->currentOf(1)
                   : currents.size() > 1     ? &currents[1]
                                             : nullptr;
}

inline float PreampChannel::levelValue() const
{
    return levelCurrent != nullptr ? toSample(*levelCurrent) : 0.0f;
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
// Runs `subSamples` sub-samples through the stages as a wavefront: on each tick every stage takes
// the sub-sample its predecessor finished on the tick before. A stage's step depends only on its
// own state and its input, so each stage still steps through the sub-samples in order with the
// same inputs, and the outputs are those of running the stages one after another per sub-sample;
// but the stages of a tick are independent of each other, and the processor overlaps their work
// instead of waiting for each in turn. input(m) gives stage 0's input of sub-sample m,
// tick(firstStage, lastStage, inputs, outputs) steps the tick's stages, output(m, signal) takes the
// last stage's output of sub-sample m.
template <class Signal, class Input, class Tick, class Output>
void runWavefront(uint32_t subSamples, Input input, Tick tick, Output output)
{
    constexpr uint32_t stages = PreampChannel::stageCount;
    Signal inputs[stages] = {}, finished[stages] = {};
    for (uint32_t m = 0; m < subSamples + stages - 1; ++m)
    {
        const uint32_t first = m < subSamples ? 0 : m - subSamples + 1;
        const uint32_t last = m < stages - 1 ? m : stages - 1;
        for (uint32_t stage = last + 1; stage-- > first;)
            inputs[stage] = stage == 0 ? input(m) : finished[stage - 1];
        tick(first, last, inputs, finished);
        if (last == stages - 1)
            output(m - last, finished[last]);
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
        [&](uint32_t firstStage, uint32_t lastStage, const Signals* inputs, Signals* outputs) {
            if (compiled != nullptr)
                return compiled(first.activeStages, second.activeStages, inputs, outputs, firstStage, lastStage);
            tickInParts(
                firstStage, lastStage, inputs, outputs,
                [&](uint32_t stage, Signals signals) {
                    if (pairing[stage] == Pairing::compiled)
                        first.compiledStages[stage]->beginPair(*second.compiledStages[stage], signals.first,
                                                               signals.second);
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
                        first.compiledStages[stage]->finishPair(signals.first, signals.second);
                    else
                        signals = {first.finishStageAlone(uint8_t(stage)), second.finishStageAlone(uint8_t(stage))};
                    return signals;
                });
        },
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
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        if (pairing[stage] == Pairing::compiled)
            first.compiledStages[stage]->storePair(*second.compiledStages[stage]);
        else
            first.storeCompiledStage(stage), second.storeCompiledStage(stage);
    }
}
