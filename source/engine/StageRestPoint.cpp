#include "StageRestPoint.h"

#include "SSParamsVec.h"

#include <cmath>

namespace
{
constexpr int newtonSteps = 40;
constexpr int halvings = 20;
constexpr double probe = 1e-8; // amperes, for the model's slopes
constexpr int hops = 24;

// The single-precision number steps last bits from value's nearest one.
double lastBitsFrom(double value, int steps)
{
    float moved = float(value);
    for (; steps > 0; --steps)
        moved = std::nextafter(moved, HUGE_VALF);
    for (; steps < 0; ++steps)
        moved = std::nextafter(moved, -HUGE_VALF);
    return double(moved);
}
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

// A model's currents are single-precision numbers, so an exact rest lies on them, and Newton's steps
// end a few of their last bits away from it. Currents that their own model output pulls toward the
// rest (slope of the residual between -2 and 0) get there by taking the model's value again and
// again; the others are tried on the single-precision numbers around i. The first exact rest is
// kept, or else the closest point found when it is closer than i.
template <class Residual>
double StageRestPoint::polish(const CurrentModel& model, Residual& residual, const Vector& slopes, Vector& i,
                              double size) const
{
    const std::size_t nI = block.nI;
    Vector p(block.nV), written(nI, double(NAN)), trial(nI), r(nI);
    for (std::size_t a = 0; a < block.nV; ++a)
    {
        p[a] = pu[a];
        for (std::size_t b = 0; b < nI; ++b)
            p[a] += Pi[a * nI + b] * i[b];
    }
    if (!model(p, written))
        return size;
    std::vector<std::size_t> pulled, searched;
    for (std::size_t b = 0; b < nI; ++b)
    {
        if (std::isnan(written[b]))
            continue;
        const bool contracting = slopes.size() == nI * nI && slopes[b * nI + b] < 0.0 && slopes[b * nI + b] > -2.0;
        (contracting ? pulled : searched).push_back(b);
    }
    const int reach = searched.size() <= 2 ? 2 : 1;
    std::vector<int> offset(searched.size(), -reach);
    Vector best = i;
    for (bool more = true; more && size > 0.0;)
    {
        trial = i;
        for (std::size_t b : pulled)
            trial[b] = double(float(i[b]));
        for (std::size_t k = 0; k < searched.size(); ++k)
            trial[searched[k]] = lastBitsFrom(i[searched[k]], offset[k]);
        for (int hop = 0; hop < hops && residual(trial, r); ++hop)
        {
            const double left = velmorant::largestMagnitude(r);
            if (left < size)
            {
                size = left;
                best = trial;
            }
            bool moved = false;
            for (std::size_t b : pulled)
            {
                moved = moved || r[b] != 0.0;
                trial[b] += r[b];
            }
            if (left == 0.0 || !moved)
                break;
        }
        more = false;
        for (std::size_t k = 0; k < offset.size() && !more; ++k)
        {
            more = offset[k] < reach;
            offset[k] = more ? offset[k] + 1 : -reach;
        }
    }
    i = best;
    return size;
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
    if (size > 0.0)
        size = polish(model, residual, J, i, size);
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
