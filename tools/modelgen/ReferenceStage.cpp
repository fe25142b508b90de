#include "ReferenceStage.h"

namespace modelgen
{

ReferenceStage::ReferenceStage(SSParamsVecAutomation& stageBlock)
    : block(stageBlock), solver(stageBlock), u(stageInputs(stageBlock, 0.0)), x(stageBlock.N), xNew(stageBlock.N),
      p(stageBlock.nV), i(stageBlock.nI), y(1)
{
}

void ReferenceStage::start(const OperatingPoint& op)
{
    solver.refreshF();
    u = stageInputs(block, 0.0);
    x = op.x;
    p = op.p;
    i = op.i;
}

double ReferenceStage::step(double input)
{
    u[0] = input;
    block.predictPortVoltages(u, x, p);
    if (!solver.solveWithBlockF(p, i))
        ++failureCount;
    iterationCount += static_cast<unsigned long>(solver.lastIterations);
    block.updateState(u, i, x, xNew);
    x.swap(xNew);
    block.computeOutput(u, x, i, y);
    return y[0];
}

} // namespace modelgen
