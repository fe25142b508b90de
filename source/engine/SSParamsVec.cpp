#include "SSParamsVec.h"

SSParamsVec::SSParamsVec(uint32_t stateCount, uint32_t inputCount, uint32_t portVoltageCount,
                         uint32_t portCurrentCount)
    : N(stateCount), nIn(inputCount), nV(portVoltageCount), nI(portCurrentCount), nOut(1),
      A(N, N), B(N, nIn), C(N, nI), D(nV, N), E(nV, nIn), F(nV, nI), G(nOut, N), H(nOut, nIn), K(nOut, nI)
{
}
