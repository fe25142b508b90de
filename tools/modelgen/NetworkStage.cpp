#include "NetworkStage.h"

namespace modelgen
{

NetworkStage::NetworkStage(SSParamsVecAutomation& stageBlock, const StepModel& model, bool projected)
    : block(stageBlock), networks(model, projected, stageBlock.nV, stageBlock.nI), u(stageInputs(stageBlock, 0.0)),
      x(stageBlock.N), xNew(stageBlock.N), p(stageBlock.nV), i(stageBlock.nI), y(1)
{
}

void NetworkStage::start(const OperatingPoint& op)
{
    u = stageInputs(block, 0.0);
    x = op.x;
    p = op.p;
    i = op.i;
}

double NetworkStage::step(double input)
{
    u[0] = input;
    block.predictPortVoltages(u, x, p);
    networks.currents(p, i);
    block.updateState(u, i, x, xNew);
    x.swap(xNew);
    block.computeOutput(u, x, i, y);
    return y[0];
}

OperatingPoint NetworkStage::restPoint(double input)
{
    return findNetworkOperatingPoint(block, input, networks, findOperatingPoint(block, input));
}

} // namespace modelgen
