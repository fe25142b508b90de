#include "StageRestPoint.h"

#include "SSParamsVec.h"

#include <cmath>

namespace
{
constexpr int newtonSteps = 40;
constexpr int halvings = 20;
constexpr double probe = 1e-8; // amperes, for the model's slopes
} // namespace

StageRestPoint::StageRestPoint(const SSParamsVec& stageBlock, const Vector& inputs)
    : block(stageBlock), u(inputs)
{
    const std::size_t n = block.N, nV = block.nV, nI = block.nI;
    Vector restMatrix(n * n);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t k = 0; k < n; ++k)
            restMatrix[a * n + k] = (a == k ? 1.0 : 0.0) - block.A(a, k);
    velmorant::SmallLu lu;
    if (!lu.factor(restMatrix, n))
        return;
    xu.assign(n, 0.0);
    Xi.assign(n * nI, 0.0);
    Vector column(n);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t k = 0; k < block.nIn; ++k)
            xu[a] += block.B(a, k) * u[k];
    lu.solve(xu);
    for (std::size_t b = 0; b < nI; ++b)
    {
        for (std::size_t a = 0; a < n; ++a)
            column[a] = block.C(a, b);
        lu.solve(column);
        for (std::size_t a = 0; a < n; ++a)
            Xi[a * nI + b] = column[a];
    }
    pu.assign(nV, 0.0);
    Pi.assign(nV * nI, 0.0);
    for (std::size_t a = 0; a < nV; ++a)
    {
        for (std::size_t k = 0; k < n; ++k)
            pu[a] += block.D(a, k) * xu[k];
        for (std::size_t k = 0; k < block.nIn; ++k)
            pu[a] += block.E(a, k) * u[k];
        for (std::size_t b = 0; b < nI; ++b)
            for (std::size_t k = 0; k < n; ++k)
                Pi[a * nI + b] += block.D(a, k) * Xi[k * nI + b];
    }
    solvable = true;
}

double StageRestPoint::settle(const CurrentModel& model, Vector& i) const
{
    const std::size_t nV = block.nV, nI = block.nI;
    Vector p(nV), h(nI), r(nI), probed(nI), J(nI * nI), step(nI), trial(nI);
    const auto residual = [&](const Vector& currents, Vector& out) {
        for (std::size_t a = 0; a < nV; ++a)
        {
            double sum = pu[a];
            for (std::size_t b = 0; b < nI; ++b)
                sum += Pi[a * nI + b] * currents[b];
            p[a] = sum;
        }
        h = currents;
        if (!model(p, h))
            return false;
        bool finite = true;
        for (std::size_t b = 0; b < nI; ++b)
        {
            out[b] = h[b] - currents[b];
            finite = finite && std::isfinite(out[b]);
        }
        return finite;
    };
    if (!solvable || i.size() != nI || !residual(i, r))
        return HUGE_VAL;
    // On past the networks' rounding: at full gain the later stages amplify what is left of a
    // residual into an audible start.
    double size = velmorant::largestMagnitude(r);
    for (int it = 0; it < newtonSteps && size > 0.0; ++it)
    {
        bool sloped = true;
        for (std::size_t c = 0; c < nI && sloped; ++c)
        {
            trial = i;
            trial[c] += probe;
            sloped = residual(trial, probed);
            for (std::size_t b = 0; b < nI; ++b)
                J[b * nI + c] = (probed[b] - r[b]) / probe;
        }
        for (std::size_t b = 0; b < nI; ++b)
            step[b] = -r[b];
        if (!sloped || !velmorant::solveInPlace(J, step, nI))
            break;
        bool improved = false;
        double factor = 1.0;
        for (int halving = 0; halving < halvings && !improved; ++halving, factor *= 0.5)
        {
            for (std::size_t b = 0; b < nI; ++b)
                trial[b] = i[b] + factor * step[b];
            improved = residual(trial, probed) && velmorant::largestMagnitude(probed) < size;
        }
        if (!improved)
            break;
        i = trial;
        r = probed;
        size = velmorant::largestMagnitude(r);
    }
    return size;
}

void StageRestPoint::complete(const Vector& i, Vector& x, Vector& p, double& output) const
{
    const std::size_t n = block.N, nV = block.nV, nI = block.nI;
    x.assign(n, 0.0);
    for (std::size_t a = 0; a < n && solvable; ++a)
    {
        double sum = xu[a];
        for (std::size_t b = 0; b < nI; ++b)
            sum += Xi[a * nI + b] * i[b];
        x[a] = sum;
    }
    p.assign(nV, 0.0);
    for (std::size_t a = 0; a < nV; ++a)
    {
        for (std::size_t k = 0; k < n; ++k)
            p[a] += block.D(a, k) * x[k];
        for (std::size_t k = 0; k < block.nIn; ++k)
            p[a] += block.E(a, k) * u[k];
    }
    output = 0.0;
    for (std::size_t k = 0; k < n; ++k)
        output += block.G(0, k) * x[k];
    for (std::size_t k = 0; k < block.nIn; ++k)
        output += block.H(0, k) * u[k];
    for (std::size_t b = 0; b < nI; ++b)
        output += block.K(0, b) * i[b];
}
