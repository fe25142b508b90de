#include "OperatingPoint.h"

#include <algorithm>
#include <cmath>

#include "DenseSolve.h"
#include "PortCurrentSolver.h"
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
// Columns of (I - A)^-1 applied to each column of the given N-row matrix (row after row).
bool solveSteadyState(const SSParamsVec& block, std::vector<double>& rhs, size_t columns)
{
    const size_t n = block.N;
    for (size_t c = 0; c < columns; ++c) {
        std::vector<double> M(n * n);
        std::vector<double> b(n);
        for (size_t a = 0; a < n; ++a) {
            for (size_t k = 0; k < n; ++k)
                M[a * n + k] = (a == k ? 1.0 : 0.0) - block.A(a, k);
            b[a] = rhs[a * columns + c];
        }
        if (!solveInPlace(M, b, n))
            return false;
        for (size_t a = 0; a < n; ++a)
            rhs[a * columns + c] = b[a];
    }
    return true;
}

// A block's steady state with a constant input as a function of its port currents:
// x = xu + Xi i and p = D x + E u = pu + Pi i.
struct SteadyState
{
    std::vector<double> u, xu, Xi, pu, Pi;
    bool valid = false;
};

SteadyState steadyState(SSParamsVecAutomation& block, double input)
{
    const size_t n = block.N, nV = block.nV, nI = block.nI;
    SteadyState s;
    s.u = stageInputs(block, input);
    s.xu.assign(n, 0.0);
    s.Xi.assign(n * nI, 0.0);
    for (size_t a = 0; a < n; ++a) {
        double sum = 0.0;
        for (size_t k = 0; k < block.nIn; ++k)
            sum += block.B(a, k) * s.u[k];
        s.xu[a] = sum;
        for (size_t b = 0; b < nI; ++b)
            s.Xi[a * nI + b] = block.C(a, b);
    }
    if (!solveSteadyState(block, s.xu, 1) || !solveSteadyState(block, s.Xi, nI))
        return s;
    s.pu.assign(nV, 0.0);
    s.Pi.assign(nV * nI, 0.0);
    for (size_t a = 0; a < nV; ++a) {
        double sum = 0.0;
        for (size_t k = 0; k < n; ++k)
            sum += block.D(a, k) * s.xu[k];
        for (size_t k = 0; k < block.nIn; ++k)
            sum += block.E(a, k) * s.u[k];
        s.pu[a] = sum;
        for (size_t b = 0; b < nI; ++b) {
            double w = 0.0;
            for (size_t k = 0; k < n; ++k)
                w += block.D(a, k) * s.Xi[k * nI + b];
            s.Pi[a * nI + b] = w;
        }
    }
    s.valid = true;
    return s;
}

// The state, port voltages and output that go with the currents i at the steady state.
OperatingPoint completeOperatingPoint(SSParamsVecAutomation& block, const SteadyState& s, std::vector<double> i,
                                      bool converged)
{
    OperatingPoint op;
    op.i = std::move(i);
    op.converged = converged;
    op.x.assign(block.N, 0.0);
    for (size_t a = 0; a < block.N; ++a) {
        double sum = s.xu[a];
        for (size_t b = 0; b < block.nI; ++b)
            sum += s.Xi[a * block.nI + b] * op.i[b];
        op.x[a] = sum;
    }
    op.p.assign(block.nV, 0.0);
    block.predictPortVoltages(s.u, op.x, op.p);
    std::vector<double> y(1);
    block.computeOutput(s.u, op.x, op.i, y);
    op.output = y[0];
    return op;
}

} // namespace

OperatingPoint findOperatingPoint(SSParamsVecAutomation& block, double input)
{
    const SteadyState s = steadyState(block, input);
    if (!s.valid)
        return {};
    // The port equation at rest: i = g(pu + (Pi + F) i).
    std::vector<double> W = s.Pi;
    for (size_t a = 0; a < block.nV; ++a)
        for (size_t b = 0; b < block.nI; ++b)
            W[a * block.nI + b] += block.F(a, b);
    PortCurrentSolver solver(block);
    std::vector<double> i(block.nI, 0.0);
    const bool converged = solver.solve(s.pu, W, i);
    return completeOperatingPoint(block, s, i, converged);
}

OperatingPoint findNetworkOperatingPoint(SSParamsVecAutomation& block, double input, StepNetworks& networks,
                                         const OperatingPoint& start)
{
    constexpr int iterations = 40;
    constexpr double tolerance = 2e-9;   // amperes: the networks' single-precision output rounds near 1 nA
    constexpr double probe = 1e-8;       // amperes, for the networks' slopes
    const size_t nV = block.nV, nI = block.nI;
    const SteadyState s = steadyState(block, input);
    if (!s.valid || start.i.size() != nI)
        return start;

    // r(i) = h(pu + Pi i) - i, where h is the networks; Newton's method with slopes by differences,
    // each step halved until the residual shrinks (a box edge can make the networks jump).
    std::vector<double> i = start.i, p(nV), h(nI), r(nI), probed(nI), J(nI * nI), step(nI), trial(nI);
    const auto residual = [&](const std::vector<double>& currents, std::vector<double>& out) {
        for (size_t a = 0; a < nV; ++a) {
            double sum = s.pu[a];
            for (size_t b = 0; b < nI; ++b)
                sum += s.Pi[a * nI + b] * currents[b];
            p[a] = sum;
        }
        h = currents;
        if (!networks.currents(p, h))
            return false;
        for (size_t b = 0; b < nI; ++b)
            out[b] = h[b] - currents[b];
        return true;
    };
    if (!residual(i, r))
        return start;
    double size = largestMagnitude(r);
    for (int it = 0; it < iterations && size > tolerance; ++it) {
        bool sloped = true;
        for (size_t c = 0; c < nI && sloped; ++c) {
            trial = i;
            trial[c] += probe;
            sloped = residual(trial, probed);
            for (size_t b = 0; b < nI; ++b)
                J[b * nI + c] = (probed[b] - r[b]) / probe;
        }
        for (size_t b = 0; b < nI; ++b)
            step[b] = -r[b];
        if (!sloped || !solveInPlace(J, step, nI))
            break;
        bool improved = false;
        double factor = 1.0;
        for (int halving = 0; halving < 20 && !improved; ++halving, factor *= 0.5) {
            for (size_t b = 0; b < nI; ++b)
                trial[b] = i[b] + factor * step[b];
            improved = residual(trial, probed) && largestMagnitude(probed) < size;
        }
        if (!improved)
            break;
        i = trial;
        r = probed;
        size = largestMagnitude(r);
    }
    return completeOperatingPoint(block, s, i, size <= tolerance);
}

} // namespace modelgen
