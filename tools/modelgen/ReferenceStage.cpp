#include "ReferenceStage.h"

namespace modelgen
{

ReferenceStage::ReferenceStage(SSParamsVecAutomation& stageBlock)
    : block(stageBlock), solver(stageBlock), u(stageInputs(stageBlock, 0.0)), x(stageBlock.N), xNew(stageBlock.N),
      p(stageBlock.nV), i(stageBlock.nI), y(1), lastP(stageBlock.nV), lastI(stageBlock.nI), pathP(stageBlock.nV)
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

bool ReferenceStage::solveAlongPath(const Vector& from)
{
    const Vector target = p;
    for (int pieces = 4; pieces <= 256; pieces *= 4) {
        i = lastI;
        bool followed = true;
        for (int k = 1; k <= pieces && followed; ++k) {
            const double share = double(k) / double(pieces);
            for (size_t a = 0; a < p.size(); ++a)
                pathP[a] = from[a] + share * (target[a] - from[a]);
            followed = solver.solveWithBlockF(pathP, i);
            iterationCount += static_cast<unsigned long>(solver.lastIterations);
        }
        if (followed)
            return true;
    }
    return false;
}

double ReferenceStage::step(double input)
{
    u[0] = input;
    lastP = p;
    lastI = i;
    block.predictPortVoltages(u, x, p);
    if (!solver.solveWithBlockF(p, i) && !solveAlongPath(lastP))
        ++failureCount;
    iterationCount += static_cast<unsigned long>(solver.lastIterations);
    block.updateState(u, i, x, xNew);
    x.swap(xNew);
    block.computeOutput(u, x, i, y);
    return y[0];
}

} // namespace modelgen
