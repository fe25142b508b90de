#include "TrainingFrame.h"

namespace modelgen
{

SSParamsVecAutomation::Matrix frameShift(SSParamsVecAutomation& block, uint32_t step, double runRate,
                                         double trainingRate)
{
    block.setStep(step);
    block.setSampleRate(runRate);
    SSParamsVecAutomation::Matrix shift = block.F;
    block.setSampleRate(trainingRate);
    gmm::add(gmm::scaled(block.F, -1.0), shift);
    return shift;
}

void addInTrainingFrame(RegionSamples& region, const std::vector<double>& p, const std::vector<double>& i,
                        const SSParamsVecAutomation::Matrix& shift)
{
    std::vector<double> moved(p);
    for (size_t r = 0; r < p.size(); ++r)
        for (size_t c = 0; c < i.size(); ++c)
            moved[r] += shift(r, c) * i[c];
    region.nV = uint32_t(p.size());
    region.nI = uint32_t(i.size());
    region.add(moved, i);
}

} // namespace modelgen
