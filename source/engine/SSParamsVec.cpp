#include "SSParamsVec.h"

#include <cmath>

SSParamsVec::SSParamsVec(uint32_t stateCount, uint32_t inputCount, uint32_t portVoltageCount,
                         uint32_t portCurrentCount)
    : N(stateCount), nIn(inputCount), nV(portVoltageCount), nI(portCurrentCount), nOut(1),
      A(N, N), B(N, nIn), C(N, nI), D(nV, N), E(nV, nIn), F(nV, nI), G(nOut, N), H(nOut, nIn), K(nOut, nI)
{
}

bool SSParamsVec::isUsableSampleRate(double sampleRate)
{
    return std::isfinite(sampleRate) && sampleRate > 0.0;
}

void SSParamsVec::setSampleRate(double sampleRate)
{
    if (!isUsableSampleRate(sampleRate))
        return;
    fs = sampleRate;
    updateMatrices();
}

void SSParamsVec::predictPortVoltages(const Vector& u, const Vector& x, Vector& p)
{
    gmm::mult(D, x, p);
    gmm::mult_add(E, u, p);
}

void SSParamsVec::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    gmm::mult(A, x, xNew);
    gmm::mult_add(B, u, xNew);
    gmm::mult_add(C, i, xNew);
}

void SSParamsVec::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    gmm::mult(G, x, y);
    gmm::mult_add(H, u, y);
    gmm::mult_add(K, i, y);
}
