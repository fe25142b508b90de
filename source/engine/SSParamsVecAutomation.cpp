#include "SSParamsVecAutomation.h"

#include <cmath>

SSParamsVecAutomation::SSParamsVecAutomation(uint32_t stateCount, uint32_t inputCount, uint32_t portVoltageCount,
                                             uint32_t portCurrentCount, uint32_t steps, uint32_t paramIndices,
                                             uint32_t constantInputs, double sampleRate)
    : SSParamsVec(stateCount, inputCount, portVoltageCount, portCurrentCount), stepCount(steps),
      paramIndexCount(paramIndices), firstConstantInput(1), constantInputCount(constantInputs),
      constants(inputCount, 0.0)
{
    if (isUsableSampleRate(sampleRate))
        fs = sampleRate;
}

bool SSParamsVecAutomation::isUsableSampleRate(double sampleRate)
{
    return std::isfinite(sampleRate) && sampleRate > 0.0;
}

void SSParamsVecAutomation::setSampleRate(double sampleRate)
{
    if (!isUsableSampleRate(sampleRate))
        return;
    fs = sampleRate;
    updateMatrices();
}

void SSParamsVecAutomation::setStep(uint32_t /*step*/) {}

double SSParamsVecAutomation::getParam(uint32_t /*k*/)
{
    return 0.0;
}

void SSParamsVecAutomation::setParam(uint32_t /*k*/, const double& /*value*/) {}

std::unique_ptr<SSParamsVecAutomation> SSParamsVecAutomation::clone() const
{
    return nullptr;
}

void SSParamsVecAutomation::copyModelFrom(const SSParamsVecAutomation& source)
{
    N = source.N;
    nIn = source.nIn;
    nV = source.nV;
    nI = source.nI;
    nOut = source.nOut;
    A = source.A;
    B = source.B;
    C = source.C;
    D = source.D;
    E = source.E;
    F = source.F;
    G = source.G;
    H = source.H;
    K = source.K;
    constants = source.constants;
    firstConstantInput = source.firstConstantInput;
    constantInputCount = source.constantInputCount;
    triode = source.triode;
}

double* SSParamsVecAutomation::constantSlot(uint32_t k)
{
    if (k < constantInputCount)
        return &constants[firstConstantInput + k];
    if (k + 1 == paramIndexCount)
        return &constants[0];
    return nullptr;
}

void SSParamsVecAutomation::triodeCurrents(const Vector& p, Vector& i, uint32_t first, double gridSign,
                                           double plateSign) const
{
    if (!triode) {
        i[first] = 0.0;
        i[first + 1] = 0.0;
        return;
    }
    const double Vgk = gridSign * p[first];
    const double Vpk = plateSign * p[first + 1];
    i[first] = triode->gridCurrent(Vgk, Vpk);
    i[first + 1] = triode->cathodeCurrent(Vgk, Vpk);
}

void SSParamsVecAutomation::triodeJacobian(const Vector& p, Matrix& J, uint32_t first, double gridSign,
                                           double plateSign) const
{
    if (!triode)
        return;
    const double Vgk = gridSign * p[first];
    const double Vpk = plateSign * p[first + 1];
    const uint32_t g = first;
    const uint32_t k = first + 1;
    J(g, g) = gridSign * triode->gridCurrentDerivativeVgk(Vgk, Vpk);
    J(g, k) = plateSign * triode->gridCurrentDerivativeVpk(Vgk, Vpk);
    J(k, g) = gridSign * triode->cathodeCurrentDerivativeVgk(Vgk, Vpk);
    J(k, k) = plateSign * triode->cathodeCurrentDerivativeVpk(Vgk, Vpk);
}

void SSParamsVecAutomation::clearMatrices()
{
    for (Matrix* m : {&A, &B, &C, &D, &E, &F, &G, &H, &K})
        gmm::clear(*m);
}
