#include "StepNetworks.h"

#include "ModelFileAssembly.h"

namespace modelgen
{

StepNetworks::StepNetworks(const StepModel& stepModel, bool projectedFile, uint32_t portVoltages,
                           uint32_t portCurrents)
    : model(stepModel), projected(projectedFile),
      flags(stepModel.outputFlags.begin(), stepModel.outputFlags.end()),
      input(projectedFile ? stepModel.projectedInputs : portVoltages)
{
    const auto inputs = static_cast<uint16_t>(input.size());
    const auto outputs = static_cast<uint16_t>(portCurrents);
    runners.reserve(model.networks.size());
    for (const TrainedNetwork& net : model.networks) {
        runners.emplace_back(inputs, outputs);
        if (projected)
            runners.back().load(*projectedRecord(net, inputs, outputs));
        else
            runners.back().load(*standardRecord(net, inputs, outputs));
        runners.back().setOutputFlags(flags.data(), static_cast<uint16_t>(flags.size()));
    }
}

bool StepNetworks::currents(const std::vector<double>& p, std::vector<double>& i)
{
    const size_t network = networkHolding(inputsAt(p));
    if (network == runners.size())
        return false;
    runners[network].run(input.data(), i);
    return true;
}

const std::vector<double>& StepNetworks::inputsAt(const std::vector<double>& p)
{
    if (projected) {
        const size_t P = model.projectedInputs;
        for (size_t r = 0; r < P; ++r) {
            double sum = 0.0;
            size_t column = 0;
            for (size_t k = 0; k < model.inputMask.size(); ++k)
                if (model.inputMask[k] == 1)
                    sum += p[k] * model.projection[column++ * P + r];
            input[r] = sum;
        }
    } else {
        std::copy(p.begin(), p.begin() + long(input.size()), input.begin());
    }
    return input;
}

size_t StepNetworks::networkHolding(const std::vector<double>& inputs) const
{
    for (size_t k = 0; k < runners.size(); ++k)
        if (runners[k].contains(inputs.data()))
            return k;
    return runners.size();
}

} // namespace modelgen
