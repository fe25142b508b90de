#include "NeuralNetRunner.h"

#include "ModelFileF.h"
#include "NetworkFactory.h"
#include "PCAModelFileF.h"

#include "AlignedAllocation.h"

#include <floatfann.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace
{
constexpr std::size_t arrayAlignment = 16;

// A zero-filled, 16-byte aligned float array (released with platform::alignedRelease).
float* allocateFloats(std::size_t count)
{
    const std::size_t bytes = (count * sizeof(float) + arrayAlignment - 1) / arrayAlignment * arrayAlignment;
    void* memory = velmorant::platform::alignedAlloc(arrayAlignment, bytes == 0 ? arrayAlignment : bytes);
    if (memory == nullptr)
        throw std::bad_alloc();
    auto* values = static_cast<float*>(memory);
    for (std::size_t k = 0; k < count; ++k)
        values[k] = 0.0f;
    return values;
}

// Smallest output range the scaling keeps apart from zero.
constexpr float minimumOutputRange = 1e-8f;

NeuralNetRunner::Evaluation evaluationOfNewRunners = NeuralNetRunner::Evaluation::compactCopy;
} // namespace

void NeuralNetRunner::setEvaluation(Evaluation evaluation)
{
    evaluationOfNewRunners = evaluation;
}

NeuralNetRunner::Evaluation NeuralNetRunner::evaluation()
{
    return evaluationOfNewRunners;
}

NeuralNetRunner::NeuralNetRunner(uint16_t inputs, uint16_t outputs)
    : inputCount(inputs), outputCount(outputs), boxMax(allocateFloats(inputs)), boxMin(allocateFloats(inputs)),
      inputMax(allocateFloats(inputs)), inputMin(allocateFloats(inputs)), outputMax(allocateFloats(outputs)),
      outputMin(allocateFloats(outputs)), netInput(allocateFloats(inputs)), inputScale(allocateFloats(inputs)),
      outputScale(allocateFloats(outputs))
{
}

NeuralNetRunner::~NeuralNetRunner()
{
    replaceNetwork(nullptr);
    for (float* array : {boxMax, boxMin, inputMax, inputMin, outputMax, outputMin, netInput, inputScale, outputScale})
        velmorant::platform::alignedRelease(array);
}

NeuralNetRunner::NeuralNetRunner(NeuralNetRunner&& other) noexcept
    : inputCount(other.inputCount), outputCount(other.outputCount),
      boxMax(std::exchange(other.boxMax, nullptr)), boxMin(std::exchange(other.boxMin, nullptr)),
      inputMax(std::exchange(other.inputMax, nullptr)), inputMin(std::exchange(other.inputMin, nullptr)),
      outputMax(std::exchange(other.outputMax, nullptr)), outputMin(std::exchange(other.outputMin, nullptr)),
      netInput(std::exchange(other.netInput, nullptr)), netOutput(std::exchange(other.netOutput, nullptr)),
      inputScale(std::exchange(other.inputScale, nullptr)), outputScale(std::exchange(other.outputScale, nullptr)),
      network(std::exchange(other.network, nullptr)), flagCount(std::exchange(other.flagCount, 0)),
      outputEnabled(std::exchange(other.outputEnabled, nullptr)), evaluator(std::move(other.evaluator))
{
    other.inputCount = 0;
    other.outputCount = 0;
}

bool NeuralNetRunner::load(const ModelNetRecord& record, NetworkFactory& factory)
{
    return loadFrom(record, factory);
}

bool NeuralNetRunner::load(const PCANetRecord& record, NetworkFactory& factory)
{
    return loadFrom(record, factory);
}

bool NeuralNetRunner::load(const ModelNetRecord& record)
{
    NetworkFactory factory;
    return loadFrom(record, factory);
}

bool NeuralNetRunner::load(const PCANetRecord& record)
{
    NetworkFactory factory;
    return loadFrom(record, factory);
}

template <typename Record>
bool NeuralNetRunner::loadFrom(const Record& record, NetworkFactory& factory)
{
    if (record.inputCount != inputCount || record.outputCount != outputCount || record.boxMin.size() != inputCount
        || record.outputMin.size() != outputCount)
    {
        // An empty box never holds an input, and without a network the currents are 0.
        for (uint16_t i = 0; i < inputCount; ++i)
            boxMin[i] = boxMax[i] = 0.0f;
        replaceNetwork(nullptr);
        return false;
    }
    setScaling(record.boxMin, record.boxMax, record.inputMin, record.inputMax, record.outputMin, record.outputMax);
    replaceNetwork(factory.create(record, inputCount, outputCount));
    return network != nullptr;
}

void NeuralNetRunner::setScaling(const std::vector<float>& boxMinimum, const std::vector<float>& boxMaximum,
                                 const std::vector<float>& inputMinimum, const std::vector<float>& inputMaximum,
                                 const std::vector<float>& outputMinimum, const std::vector<float>& outputMaximum)
{
    for (uint16_t i = 0; i < inputCount; ++i)
    {
        boxMax[i] = boxMaximum[i];
        boxMin[i] = boxMinimum[i];
        inputMax[i] = inputMaximum[i];
        inputMin[i] = inputMinimum[i];
        inputScale[i] = inputMax[i] != inputMin[i] ? 2.0f / (inputMax[i] - inputMin[i]) : 0.0f;
    }
    for (uint16_t k = 0; k < outputCount; ++k)
    {
        outputMax[k] = outputMaximum[k];
        outputMin[k] = outputMinimum[k];
        const float range = outputMax[k] - outputMin[k];
        outputScale[k] = (outputMax[k] > outputMin[k] && range < minimumOutputRange) ? minimumOutputRange : range;
    }
}

void NeuralNetRunner::replaceNetwork(fann* built)
{
    if (network != nullptr)
        fann_destroy(network);
    network = built;
    netOutput = nullptr;
    evaluator.reset();
    if (network != nullptr && evaluationOfNewRunners == Evaluation::compactCopy)
        evaluator = NetworkEvaluator::copyOf(*network);
    if (evaluator)
    {
        evaluator->setNormalisation(inputMin, inputScale);
        evaluator->setCurrentScaling(outputScale, outputMin);
    }
}

void NeuralNetRunner::setOutputFlags(const uint16_t* flags, uint16_t count)
{
    outputEnabled = flags;
    flagCount = flags == nullptr ? 0 : count;
}

bool NeuralNetRunner::contains(const double* x) const
{
    for (uint16_t i = 0; i < inputCount; ++i)
        if (!(static_cast<double>(boxMin[i]) < x[i] && x[i] < static_cast<double>(boxMax[i])))
            return false;
    return true;
}

float* NeuralNetRunner::runWithFann(const double* input)
{
    NetworkEvaluator::normaliseInputs(input, inputMin, inputScale, netInput, inputCount);
    return fann_run(network, netInput);
}

void NeuralNetRunner::run(const double* input, std::vector<double>& result)
{
    const float* output = evaluate(input);
    const uint16_t computedCount = output != nullptr ? outputCount : 0;
    const std::size_t count = flagCount < result.size() ? flagCount : result.size();
    uint16_t j = 0;
    for (std::size_t k = 0; k < count; ++k)
    {
        if (outputEnabled[k] != 1)
            continue;
        result[k] = currentFrom(j < computedCount ? outputScale[j] * output[j] + outputMin[j] : 0.0f);
        ++j;
    }
}
