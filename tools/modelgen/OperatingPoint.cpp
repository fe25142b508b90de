#include "OperatingPoint.h"

#include <algorithm>
#include <cmath>

#include "PortCurrentSolver.h"
#include "StageRestPoint.h"
#include "StepNetworks.h"

namespace modelgen
{

std::vector<double> stageInputs(SSParamsVecAutomation& block, double signal)
{
    std::vector<double> u(std::max<uint32_t>(block.nIn, 1), 0.0);
    u.front() = signal;
    for (uint32_t k = 0; k < block.constantInputCount; ++k)
        u[block.firstConstantInput + k] = block.getParam(k);
    return u;
}

namespace
{
OperatingPoint completeOperatingPoint(const StageRestPoint& rest, std::vector<double> i, bool converged)
{
    OperatingPoint op;
    op.i = std::move(i);
    op.converged = converged;
    rest.complete(op.i, op.x, op.p, op.output);
    return op;
}
} // namespace

OperatingPoint findOperatingPoint(SSParamsVecAutomation& block, double input)
{
    const StageRestPoint rest(block, stageInputs(block, input));
    if (!rest.valid())
        return {};
    // The port equation at rest: i = g(pu + (Pi + F) i).
    std::vector<double> W = rest.restVoltagesPerCurrent();
    for (size_t a = 0; a < block.nV; ++a)
        for (size_t b = 0; b < block.nI; ++b)
            W[a * block.nI + b] += block.F(a, b);
    PortCurrentSolver solver(block);
    std::vector<double> i(block.nI, 0.0);
    const bool converged = solver.solve(rest.restVoltages(), W, i);
    return completeOperatingPoint(rest, i, converged);
}

OperatingPoint findNetworkOperatingPoint(SSParamsVecAutomation& block, double input, StepNetworks& networks,
                                         const OperatingPoint& start)
{
    const StageRestPoint rest(block, stageInputs(block, input));
    if (!rest.valid() || start.i.size() != block.nI)
        return start;
    std::vector<double> i = start.i;
    const double residual = rest.settle(
        [&](const std::vector<double>& p, std::vector<double>& currents) { return networks.currents(p, currents); }, i);
    if (!std::isfinite(residual))  // the networks give no currents at the start
        return start;
    return completeOperatingPoint(rest, i, residual <= StageRestPoint::tolerance);
}

} // namespace modelgen
