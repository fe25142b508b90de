#include "StepTrainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "PortCurrentSolver.h"
#include "Random.h"

namespace modelgen
{

namespace
{
constexpr float unbounded = std::numeric_limits<float>::max();
// A port voltage whose visited range stays below this (volts) is a constant: it is masked out.
constexpr double constantPortRange = 1e-6;
// Grid cells per network input when thinning the visited set to even coverage.
constexpr int thinningCells = 40;
// A principal axis whose spread is below this share of the widest one is left out of the projection.
constexpr double thinAxisShare = 1e-3;

// Eigenvectors of a symmetric n x n matrix (row after row) by cyclic Jacobi rotations; returns
// them as the rows of the result, by descending eigenvalue, each with its largest entry positive.
std::vector<double> principalAxes(std::vector<double> S, size_t n)
{
    std::vector<double> V(n * n, 0.0);
    for (size_t k = 0; k < n; ++k)
        V[k * n + k] = 1.0;
    for (int sweep = 0; sweep < 60; ++sweep) {
        double off = 0.0;
        for (size_t a = 0; a < n; ++a)
            for (size_t b = a + 1; b < n; ++b)
                off += S[a * n + b] * S[a * n + b];
        if (off < 1e-30)
            break;
        for (size_t a = 0; a < n; ++a)
            for (size_t b = a + 1; b < n; ++b) {
                if (S[a * n + b] == 0.0)
                    continue;
                const double theta = (S[b * n + b] - S[a * n + a]) / (2.0 * S[a * n + b]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (size_t k = 0; k < n; ++k) {
                    const double ka = S[k * n + a], kb = S[k * n + b];
                    S[k * n + a] = c * ka - s * kb;
                    S[k * n + b] = s * ka + c * kb;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double ak = S[a * n + k], bk = S[b * n + k];
                    S[a * n + k] = c * ak - s * bk;
                    S[b * n + k] = s * ak + c * bk;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double ka = V[k * n + a], kb = V[k * n + b];
                    V[k * n + a] = c * ka - s * kb;
                    V[k * n + b] = s * ka + c * kb;
                }
            }
    }
    std::vector<size_t> order(n);
    for (size_t k = 0; k < n; ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return S[a * n + a] > S[b * n + b]; });
    std::vector<double> axes(n * n);
    for (size_t r = 0; r < n; ++r) {
        size_t largest = 0;
        for (size_t k = 0; k < n; ++k)
            if (std::fabs(V[k * n + order[r]]) > std::fabs(V[largest * n + order[r]]))
                largest = k;
        const double sign = V[largest * n + order[r]] < 0.0 ? -1.0 : 1.0;
        for (size_t k = 0; k < n; ++k)
            axes[r * n + k] = sign * V[k * n + order[r]];
    }
    return axes;
}

// How many of the leading axes carry the visited set: the port voltages are linear in the
// stage's state and input, so a stage with fewer states than ports visits a thin slab, and an
// axis across it would only feed the networks rounding noise blown up by the normalisation.
size_t significantAxes(const std::vector<double>& cov, const std::vector<double>& axes, size_t n)
{
    std::vector<double> spread(n, 0.0);
    for (size_t r = 0; r < n; ++r)
        for (size_t a = 0; a < n; ++a)
            for (size_t b = 0; b < n; ++b)
                spread[r] += axes[r * n + a] * cov[a * n + b] * axes[r * n + b];
    size_t kept = 1;
    while (kept < n && std::sqrt(std::max(spread[kept], 0.0)) > thinAxisShare * std::sqrt(std::max(spread[0], 0.0)))
        ++kept;
    return kept;
}

// The stage's view of the port voltages: mask, projection and the mapping both ways.
struct InputMap
{
    std::vector<uint32_t> enabled;  // indices of the enabled port voltages
    std::vector<double> axes;       // P x C1 orthonormal, row after row, over the weighted voltages
    std::vector<double> weight;     // per enabled port voltage (ones for a standard stage)
    size_t P = 0;

    void project(const double* p, double* z) const
    {
        const size_t width = enabled.size();
        for (size_t r = 0; r < P; ++r) {
            double sum = 0.0;
            for (size_t c = 0; c < width; ++c)
                sum += axes[r * width + c] * weight[c] * p[enabled[c]];
            z[r] = sum;
        }
    }
    // Moves p by dz in the network inputs.
    void displace(double* p, const double* dz) const
    {
        const size_t width = enabled.size();
        for (size_t r = 0; r < P; ++r)
            for (size_t c = 0; c < width; ++c)
                p[enabled[c]] += axes[r * width + c] * dz[r] / weight[c];
    }
};

// The port currents that reach the stage's state or its output (some entry of C or K is not zero).
// The others only take part in the port equation within the block, a second triode's plate
// current for instance: what the networks give for them is never read, so they are not fitted and
// their outputs give a constant 0, and the networks' whole capacity goes to the currents that
// matter.
std::vector<size_t> usedCurrents(const SSParamsVecAutomation& block)
{
    std::vector<size_t> used;
    for (size_t k = 0; k < block.nI; ++k) {
        bool reaches = false;
        for (size_t r = 0; r < block.N && !reaches; ++r)
            reaches = block.C(r, k) != 0.0;
        for (size_t r = 0; r < block.nOut && !reaches; ++r)
            reaches = block.K(r, k) != 0.0;
        if (reaches)
            used.push_back(k);
    }
    return used;
}

// How strongly the port currents answer each enabled port voltage (A/V, averaged over visited
// points). A grid voltage swinging a few volts can matter more than a plate voltage swinging
// hundreds; weighing the voltages by it makes the projection keep, and the boxes split, the
// directions in which the currents change rather than those in which the voltages merely move.
// Every current counts here, the ones left unfitted too: a second triode's plate current answers
// its grid voltage far more strongly than its grid current does, and the fit of the grid current
// needs that direction resolved all the same (without it the input stage at high gain followed the
// circuit 10 to 25 dB worse).
std::vector<double> portSensitivities(const RegionSamples& samples, const std::vector<uint32_t>& enabled,
                                      SSParamsVecAutomation& block)
{
    constexpr size_t probes = 24;
    constexpr double nudge = 1e-3;  // volts
    const size_t nV = samples.nV, nI = samples.nI, count = samples.size();
    PortCurrentSolver solver(block);
    std::vector<double> sensitivity(enabled.size(), 0.0);
    for (size_t k = 0; k < probes && count > 0; ++k) {
        const size_t s = k * count / probes;
        for (size_t c = 0; c < enabled.size(); ++c) {
            std::vector<double> p(&samples.p[s * nV], &samples.p[s * nV] + nV);
            std::vector<double> i(&samples.i[s * nI], &samples.i[s * nI] + nI), base = i;
            if (!solver.solveWithBlockF(p, base))
                continue;
            i = base;
            p[enabled[c]] += nudge;
            if (!solver.solveWithBlockF(p, i))
                continue;
            double change = 0.0;
            for (size_t b = 0; b < nI; ++b)
                change += (i[b] - base[b]) * (i[b] - base[b]);
            sensitivity[c] += std::sqrt(change) / nudge / double(probes);
        }
    }
    double largest = 0.0;
    for (double value : sensitivity)
        largest = std::max(largest, value);
    for (double& value : sensitivity)
        value = largest > 0.0 ? std::max(value, 1e-3 * largest) / largest : 1.0;
    return sensitivity;
}

InputMap makeInputMap(const RegionSamples& samples, bool projected, SSParamsVecAutomation& block, StepModel& model)
{
    const size_t nV = samples.nV, count = samples.size();
    InputMap map;
    model.inputMask.assign(nV, 1);
    for (uint32_t k = 0; k < nV; ++k) {
        double lo = samples.p[k], hi = samples.p[k];
        for (size_t s = 0; s < count; ++s) {
            lo = std::min(lo, samples.p[s * nV + k]);
            hi = std::max(hi, samples.p[s * nV + k]);
        }
        if (projected && hi - lo < constantPortRange)
            model.inputMask[k] = 0;
        else
            map.enabled.push_back(k);
    }
    const size_t width = map.enabled.size();
    map.P = width;
    map.weight.assign(width, 1.0);
    if (!projected) {
        map.axes.assign(width * width, 0.0);
        for (size_t k = 0; k < width; ++k)
            map.axes[k * width + k] = 1.0;
        return map;
    }
    map.weight = portSensitivities(samples, map.enabled, block);
    std::vector<double> mean(width, 0.0), cov(width * width, 0.0);
    const auto weighted = [&](size_t s, size_t a) { return map.weight[a] * samples.p[s * nV + map.enabled[a]]; };
    for (size_t s = 0; s < count; ++s)
        for (size_t a = 0; a < width; ++a)
            mean[a] += weighted(s, a) / double(count);
    for (size_t s = 0; s < count; ++s)
        for (size_t a = 0; a < width; ++a)
            for (size_t b = 0; b < width; ++b)
                cov[a * width + b] += (weighted(s, a) - mean[a]) * (weighted(s, b) - mean[b]);
    map.axes = principalAxes(cov, width);
    map.P = significantAxes(cov, map.axes, width);
    map.axes.resize(map.P * width);
    model.projectedInputs = uint32_t(map.P);
    model.projectionColumns = uint32_t(width);
    model.projection.assign(map.P * width, 0.0);
    for (size_t r = 0; r < map.P; ++r)
        for (size_t c = 0; c < width; ++c)
            model.projection[c * map.P + r] = map.axes[r * width + c] * map.weight[c];
    return map;
}

// Training points: the visited set thinned to even coverage over a grid of the network inputs,
// points drawn at random from it (where the signal dwells), points spread evenly over the grid
// cells it passes through and their neighbours, points around where the chain rests, and points
// moved a little off the visited set, the last three with their exact currents. A signal crosses
// the steep parts of a stage's map (a triode going from cut-off to full current) in a few
// samples, so the visited set holds few points there, and a signal unlike the training signals
// crosses them elsewhere: the spread points fill them in.
struct TrainingSet
{
    std::vector<double> z, i;  // network inputs, and the used currents of each point
    size_t size(size_t P) const { return z.size() / P; }
};

// The point of z (P values each) nearest to target, distances measured over each axis's range.
size_t nearestPoint(const std::vector<double>& z, size_t P, const std::vector<double>& target,
                    const std::vector<double>& lo, const std::vector<double>& hi)
{
    size_t nearest = 0;
    double nearestDistance = HUGE_VAL;
    for (size_t s = 0; s * P < z.size(); ++s) {
        double distance = 0.0;
        for (size_t d = 0; d < P; ++d) {
            const double span = hi[d] > lo[d] ? hi[d] - lo[d] : 1.0;
            distance += (z[s * P + d] - target[d]) * (z[s * P + d] - target[d]) / (span * span);
        }
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = s;
        }
    }
    return nearest;
}

// The exact currents at p (in i), found by Newton's method from the currents of a visited point at
// pFrom (i on entry); where a full step stalls at a knee of the triode laws, along the straight path
// in ever finer steps.
bool exactCurrents(PortCurrentSolver& solver, const std::vector<double>& pFrom, const std::vector<double>& p,
                   std::vector<double>& i)
{
    const std::vector<double> start = i;
    if (solver.solveWithBlockF(p, i))
        return true;
    std::vector<double> along(p.size());
    for (int pieces = 4; pieces <= 64; pieces *= 4) {
        i = start;
        bool followed = true;
        for (int k = 1; k <= pieces && followed; ++k) {
            for (size_t a = 0; a < p.size(); ++a)
                along[a] = pFrom[a] + double(k) / double(pieces) * (p[a] - pFrom[a]);
            followed = solver.solveWithBlockF(along, i);
        }
        if (followed)
            return true;
    }
    return false;
}

TrainingSet makeTrainingSet(const RegionSamples& samples, const InputMap& map, SSParamsVecAutomation& block,
                            const StepTrainingOptions& options, const std::vector<double>& restVoltages,
                            const std::vector<size_t>& used, Random& random)
{
    const size_t nV = samples.nV, nI = samples.nI, P = map.P, count = samples.size();
    const size_t target = options.trainingPoints;
    std::vector<double> z(count * P);
    for (size_t s = 0; s < count; ++s)
        map.project(&samples.p[s * nV], &z[s * P]);
    std::vector<double> lo(P), hi(P);
    for (size_t d = 0; d < P; ++d) {
        lo[d] = hi[d] = z[d];
        for (size_t s = 0; s < count; ++s) {
            lo[d] = std::min(lo[d], z[s * P + d]);
            hi[d] = std::max(hi[d], z[s * P + d]);
        }
    }
    const auto cellOf = [&](const double* point, size_t d) {
        const double span = hi[d] - lo[d];
        return span > 0.0 ? int64_t((point[d] - lo[d]) / span * (thinningCells - 1)) : int64_t(0);
    };
    // Cells are keyed with a border as wide as the spread's reach on each side, so neighbours
    // outside the range count.
    const int64_t reach = int64_t(std::max<uint32_t>(options.spreadReach, 1));
    const auto keyOf = [&](const int64_t* cell) {
        uint64_t key = 0;
        for (size_t d = 0; d < P; ++d)
            key = key * uint64_t(thinningCells + 2 * reach) + uint64_t(cell[d] + reach);
        return key;
    };
    std::vector<size_t> chosen;
    std::map<uint64_t, size_t> visitedCells;  // cell -> a visited point in it
    std::vector<int64_t> cell(P);
    for (size_t s = 0; s < count; ++s) {
        for (size_t d = 0; d < P; ++d)
            cell[d] = cellOf(&z[s * P], d);
        if (visitedCells.emplace(keyOf(cell.data()), s).second)
            chosen.push_back(s);
    }
    const size_t even = std::min(chosen.size(), size_t(double(target) * options.evenShare));
    std::vector<size_t> picked;
    for (size_t k = 0; k < even; ++k)
        picked.push_back(chosen[k * chosen.size() / even]);
    while (picked.size() < target * (1.0 - options.jitterShare - options.spreadShare) && count > 0)
        picked.push_back(random.below(count));

    TrainingSet set;
    auto addPoint = [&](const double* p, const double* i) {
        std::vector<double> zp(P);
        map.project(p, zp.data());
        set.z.insert(set.z.end(), zp.begin(), zp.end());
        for (size_t k : used)
            set.i.push_back(i[k]);
    };
    for (size_t s : picked)
        addPoint(&samples.p[s * nV], &samples.i[s * nI]);

    PortCurrentSolver solver(block);
    std::vector<double> p(nV), current(nI), dz(P);
    // Moves visited point s by dz and adds it with its exact currents (or s itself where the
    // currents cannot be found).
    const auto addMoved = [&](size_t s) {
        const double* from = &samples.p[s * nV];
        std::copy(from, from + nV, p.begin());
        std::copy(&samples.i[s * nI], &samples.i[s * nI] + nI, current.begin());
        map.displace(p.data(), dz.data());
        if (exactCurrents(solver, std::vector<double>(from, from + nV), p, current))
            addPoint(p.data(), current.data());
        else
            addPoint(from, &samples.i[s * nI]);
    };

    // The visited cells and their neighbours, each with a visited point in or next to it.
    std::map<uint64_t, std::pair<std::vector<int64_t>, size_t>> spreadCells;
    const uint64_t digitBase = uint64_t(2 * reach + 1);
    size_t neighbourCount = 1;
    for (size_t d = 0; d < P; ++d)
        neighbourCount *= digitBase;
    for (const auto& [key, s] : visitedCells) {
        for (size_t d = 0; d < P; ++d)
            cell[d] = cellOf(&z[s * P], d);
        for (size_t n = 0; n < neighbourCount; ++n) {
            std::vector<int64_t> neighbour(cell);
            size_t digits = n;  // one digit per axis: offsets -reach .. +reach
            for (size_t d = 0; d < P; ++d, digits /= digitBase)
                neighbour[d] += int64_t(digits % digitBase) - reach;
            spreadCells.emplace(keyOf(neighbour.data()), std::make_pair(neighbour, s));
        }
    }
    const size_t spreadTarget = set.size(P) + size_t(double(target) * options.spreadShare);
    std::vector<const std::pair<std::vector<int64_t>, size_t>*> cellList;
    for (const auto& entry : spreadCells)
        cellList.push_back(&entry.second);
    while (set.size(P) < spreadTarget && !cellList.empty()) {
        const auto& [where, s] = *cellList[random.below(cellList.size())];
        for (size_t d = 0; d < P; ++d) {
            const double span = hi[d] - lo[d];
            const double at = lo[d] + (double(where[d]) + random.uniform()) * span / (thinningCells - 1);
            dz[d] = span > 0.0 ? at - z[s * P + d] : 0.0;
        }
        addMoved(s);
    }

    // Around where the chain rests: the slow modes of a stage at rest (its coupling capacitors)
    // lie within a fraction of a percent of instability, and a network whose slope there is a
    // little off tips them over into a hum that the gain stages amplify.
    const size_t restCount = restVoltages.size() / std::max<size_t>(nV, 1);
    const size_t aroundRest = restCount > 0 ? size_t(double(target) * options.restShare) / restCount : 0;
    std::vector<double> restZ(P);
    for (size_t r = 0; r < restCount; ++r) {
        map.project(&restVoltages[r * nV], restZ.data());
        const size_t nearest = nearestPoint(z, P, restZ, lo, hi);
        for (size_t k = 0; k < aroundRest; ++k) {
            for (size_t d = 0; d < P; ++d) {
                const double offset = k == 0 ? 0.0 : options.restSpread * (hi[d] - lo[d]) * random.normal();
                dz[d] = restZ[d] - z[nearest * P + d] + offset;
            }
            addMoved(nearest);
        }
    }

    while (set.size(P) < target && count > 0) {
        const size_t s = random.below(count);
        for (size_t d = 0; d < P; ++d)
            dz[d] = 0.02 * (hi[d] - lo[d]) * random.normal();
        addMoved(s);
    }
    return set;
}

// A region box of a step: bounds per network input (infinite at the outside) and its network.
struct Box
{
    std::vector<double> lo, hi;
    TrainedNetwork net;
    bool splittable = true;  // false once it held too few points to split
};

// Whether the box holds the point z (P values).
bool boxHolds(const Box& box, const double* z, size_t P)
{
    bool inside = true;
    for (size_t d = 0; d < P && inside; ++d)
        inside = z[d] >= box.lo[d] && z[d] < box.hi[d];
    return inside;
}

bool holdsRest(const Box& box, const std::vector<double>& restZ, size_t P)
{
    for (size_t r = 0; r + P <= restZ.size(); r += P)
        if (boxHolds(box, &restZ[r], P))
            return true;
    return false;
}

// Trains the network of a box on the training points inside it and a margin around it, at most
// pointsPerBox of them spread evenly over the set; a box holding a rest with the rest decay.
void trainBox(Box& box, const TrainingSet& set, size_t P, size_t nI, const StepTrainingOptions& options,
              const std::vector<double>& restZ, uint64_t seed, const TrainedNetwork* start)
{
    const size_t count = set.size(P);
    std::vector<double> innerLo(P), innerHi(P), margin(P);
    for (size_t d = 0; d < P; ++d) {
        innerLo[d] = std::numeric_limits<double>::max();
        innerHi[d] = std::numeric_limits<double>::lowest();
        for (size_t s = 0; s < count; ++s) {
            innerLo[d] = std::min(innerLo[d], std::max(set.z[s * P + d], box.lo[d]));
            innerHi[d] = std::max(innerHi[d], std::min(set.z[s * P + d], box.hi[d]));
        }
        margin[d] = 0.15 * std::max(innerHi[d] - innerLo[d], 0.0);
    }
    std::vector<size_t> inside;
    for (size_t s = 0; s < count; ++s) {
        bool within = true;
        for (size_t d = 0; d < P && within; ++d)
            within = set.z[s * P + d] > box.lo[d] - margin[d] && set.z[s * P + d] < box.hi[d] + margin[d];
        if (within)
            inside.push_back(s);
    }
    const size_t kept = std::min(inside.size(), size_t(options.pointsPerBox));
    std::vector<double> z, i;
    for (size_t k = 0; k < kept; ++k) {
        const size_t s = inside[k * inside.size() / kept];
        z.insert(z.end(), &set.z[s * P], &set.z[s * P] + P);
        i.insert(i.end(), &set.i[s * nI], &set.i[s * nI] + nI);
    }
    TrainingOptions networkOptions = options.network;
    networkOptions.symmetricOutput = options.projected;
    if (holdsRest(box, restZ, P))
        networkOptions.weightDecay = std::max(networkOptions.weightDecay, options.restWeightDecay);
    box.net = trainNetwork(z, i, uint32_t(P), uint32_t(nI), networkOptions, seed, start);
}

// Where a cut along an axis may not fall: the rest points' span within the box, widened by a
// share of the box's extent on each side.
struct KeepOut
{
    double lo = 0.0, hi = -1.0;
    bool contains(double value) const { return value >= lo && value <= hi; }
};

KeepOut restKeepOut(const Box& box, const std::vector<double>& restZ, size_t P, size_t axis, double extent)
{
    constexpr double marginShare = 0.05;
    KeepOut out;
    bool any = false;
    for (size_t r = 0; r + P <= restZ.size(); r += P) {
        if (!boxHolds(box, &restZ[r], P))
            continue;
        out.lo = any ? std::min(out.lo, restZ[r + axis]) : restZ[r + axis];
        out.hi = any ? std::max(out.hi, restZ[r + axis]) : restZ[r + axis];
        any = true;
    }
    if (any) {
        out.lo -= marginShare * extent;
        out.hi += marginShare * extent;
    }
    return out;
}

// Where a box is cut along one axis: at the median of its training points, moved off the rest
// points to whichever side keeps it nearer the median, as long as each part keeps a tenth of the
// points. False when neither side can.
bool cutOffRest(const Box& box, const TrainingSet& set, const std::vector<size_t>& inside, size_t P,
                const std::vector<double>& restZ, size_t axis, double extent, double& cut)
{
    std::vector<double> values;
    for (size_t s : inside)
        values.push_back(set.z[s * P + axis]);
    std::sort(values.begin(), values.end());
    cut = values[values.size() / 2];
    const KeepOut keepOut = restKeepOut(box, restZ, P, axis, extent);
    if (!keepOut.contains(cut))
        return true;
    const auto share = [&](double at) {
        return double(std::lower_bound(values.begin(), values.end(), at) - values.begin()) / double(values.size());
    };
    const bool belowFits = share(keepOut.lo) >= 0.1, aboveFits = share(keepOut.hi) <= 0.9;
    if (belowFits && (!aboveFits || cut - keepOut.lo <= keepOut.hi - cut))
        cut = keepOut.lo;
    else if (aboveFits)
        cut = keepOut.hi;
    return belowFits || aboveFits;
}

// Splits a box across the input where its training points spread most, or the next widest where
// that cut would fall near where the chain rests; returns false when the box holds too few points
// to split, or when every cut would fall near where the chain rests (a chain resting on an edge
// between two networks that disagree a little chatters across it: noise from silence).
bool splitBox(const Box& box, const TrainingSet& set, size_t P, const std::vector<double>& restZ, Box& lower,
              Box& upper)
{
    const size_t count = set.size(P);
    std::vector<size_t> inside;
    for (size_t s = 0; s < count; ++s) {
        bool within = true;
        for (size_t d = 0; d < P && within; ++d)
            within = set.z[s * P + d] >= box.lo[d] && set.z[s * P + d] < box.hi[d];
        if (within)
            inside.push_back(s);
    }
    if (inside.size() < 64)
        return false;
    std::vector<std::pair<double, size_t>> spreads;  // (spread, axis), widest first
    for (size_t d = 0; d < P; ++d) {
        double lo = set.z[inside[0] * P + d], hi = lo;
        for (size_t s : inside) {
            lo = std::min(lo, set.z[s * P + d]);
            hi = std::max(hi, set.z[s * P + d]);
        }
        spreads.emplace_back(hi - lo, d);
    }
    std::stable_sort(spreads.begin(), spreads.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    double cut = 0.0;
    const auto offRest = std::find_if(spreads.begin(), spreads.end(), [&](const auto& spread) {
        return cutOffRest(box, set, inside, P, restZ, spread.second, spread.first, cut);
    });
    if (offRest == spreads.end())
        return false;
    const size_t axis = offRest->second;
    // Bounds are stored in single precision: split where a float lands.
    cut = double(float(cut));
    lower = box;
    upper = box;
    lower.hi[axis] = cut;
    upper.lo[axis] = cut;
    return true;
}

// The training points' range along each network input.
void pointRange(const TrainingSet& set, size_t P, std::vector<double>& lo, std::vector<double>& hi)
{
    lo.assign(P, std::numeric_limits<double>::max());
    hi.assign(P, std::numeric_limits<double>::lowest());
    for (size_t s = 0; s * P < set.z.size(); ++s)
        for (size_t d = 0; d < P; ++d) {
            lo[d] = std::min(lo[d], set.z[s * P + d]);
            hi[d] = std::max(hi[d], set.z[s * P + d]);
        }
}

size_t pointsInside(const Box& box, const TrainingSet& set, size_t P)
{
    size_t inside = 0;
    for (size_t s = 0; s * P < set.z.size(); ++s)
        inside += boxHolds(box, &set.z[s * P], P) ? 1 : 0;
    return inside;
}

// Cuts a small box around the rests out of the box holding them: their span widened by margin on
// every side, within the box. The slabs around it come first, the rest box last; all are left for
// networks of their own, or none when the rest box holds too few points to fit one. The output layer of a network rounds in single precision at a share of its
// output span: in a box a few hundredths of the visited range wide the currents span little, and a
// stage at rest trembles that much less.
std::vector<Box> carveRestBox(const Box& box, const TrainingSet& set, size_t P, const std::vector<double>& restZ,
                              const std::vector<double>& margin)
{
    constexpr size_t fewestPoints = 64;
    std::vector<double> restLo(P, std::numeric_limits<double>::max()), restHi(P, std::numeric_limits<double>::lowest());
    for (size_t r = 0; r + P <= restZ.size(); r += P)
        if (boxHolds(box, &restZ[r], P))
            for (size_t d = 0; d < P; ++d) {
                restLo[d] = std::min(restLo[d], restZ[r + d]);
                restHi[d] = std::max(restHi[d], restZ[r + d]);
            }
    std::vector<Box> pieces;
    Box rest = box;
    const auto cutAway = [&](size_t d, double at, bool below) {
        at = double(float(at));
        if (at <= rest.lo[d] || at >= rest.hi[d])
            return;
        Box slab = rest;
        (below ? slab.hi[d] : slab.lo[d]) = at;
        (below ? rest.lo[d] : rest.hi[d]) = at;
        pieces.push_back(std::move(slab));
    };
    for (size_t d = 0; d < P; ++d) {
        cutAway(d, restLo[d] - margin[d], true);
        cutAway(d, restHi[d] + margin[d], false);
    }
    if (pieces.empty() || pointsInside(rest, set, P) < fewestPoints)
        return {};
    rest.splittable = false;
    pieces.push_back(std::move(rest));
    return pieces;
}

// Gives the rests in each box holding some a box of their own with a network of its own.
void carveRestBoxes(std::vector<Box>& boxes, const TrainingSet& set, size_t P, size_t nI,
                    const StepTrainingOptions& options, const std::vector<double>& restZ, uint64_t seed,
                    uint64_t& trained)
{
    std::vector<double> lo, hi, margin(P);
    pointRange(set, P, lo, hi);
    for (size_t d = 0; d < P; ++d)
        margin[d] = options.restBoxShare * (hi[d] - lo[d]);
    for (size_t b = 0; b < boxes.size(); ++b) {
        if (!holdsRest(boxes[b], restZ, P))
            continue;
        std::vector<Box> pieces = carveRestBox(boxes[b], set, P, restZ, margin);
        if (pieces.empty())
            continue;
        // Every piece gets a network of its own: the rest box with the rests' weight decay, the
        // slabs around it, which hold no rest, without it (the decay held the input stage at full
        // gain to 36 dB with loud held notes).
        for (Box& piece : pieces)
            trainBox(piece, set, P, nI, options, restZ, Random::seedOf(seed, ++trained), &boxes[b].net);
        const size_t added = pieces.size() - 1;
        boxes[b] = std::move(pieces.front());
        boxes.insert(boxes.begin() + long(b) + 1, std::make_move_iterator(pieces.begin() + 1),
                     std::make_move_iterator(pieces.end()));
        b += added;
    }
}
// A network fitted to the used currents, with an output for every port current: the used ones'
// rows in place, the others' rows all zero, so that they give their output offset, 0.
TrainedNetwork widenedToEveryCurrent(TrainedNetwork net, const std::vector<size_t>& used, size_t currents)
{
    if (used.size() == currents)
        return net;
    const size_t hidden = net.hiddenLayers.front(), inputs = net.boxMin.size();
    const size_t hiddenWeights = hidden * (inputs + 1), row = hidden + 1;
    std::vector<float> weights(net.weights.begin(), net.weights.begin() + long(hiddenWeights));
    std::vector<float> outputMin(currents, 0.0f), outputMax(currents, 2e-8f);
    weights.resize(hiddenWeights + currents * row, 0.0f);
    for (size_t u = 0; u < used.size(); ++u) {
        std::copy_n(&net.weights[hiddenWeights + u * row], row, &weights[hiddenWeights + used[u] * row]);
        outputMin[used[u]] = net.outputMin[u];
        outputMax[used[u]] = net.outputMax[u];
    }
    net.weights = std::move(weights);
    net.outputMin = std::move(outputMin);
    net.outputMax = std::move(outputMax);
    return net;
}
} // namespace

StepModel trainStep(const RegionSamples& samples, SSParamsVecAutomation& block, const StepTrainingOptions& options,
                    uint64_t seed, const std::vector<double>& restVoltages)
{
    StepModel model;
    Random random(seed);
    const std::vector<size_t> used = usedCurrents(block);
    const InputMap map = makeInputMap(samples, options.projected, block, model);
    const size_t P = map.P, nI = used.size();
    std::vector<double> restZ(restVoltages.size() / std::max<size_t>(samples.nV, 1) * P);
    for (size_t r = 0; r * P < restZ.size(); ++r)
        map.project(&restVoltages[r * samples.nV], &restZ[r * P]);
    model.outputFlags.assign(samples.nI, 1);
    const TrainingSet set = makeTrainingSet(samples, map, block, options, restVoltages, used, random);

    // Start with one box over everything and split the worst one until every box fits within
    // the tolerance or the step has its most boxes; the boxes tile the whole input space.
    std::vector<Box> boxes(1);
    boxes[0].lo.assign(P, -double(unbounded));
    boxes[0].hi.assign(P, double(unbounded));
    uint64_t trained = 0;
    trainBox(boxes[0], set, P, nI, options, restZ, Random::seedOf(seed, ++trained), nullptr);
    while (boxes.size() < std::max<uint32_t>(options.boxes, 1)) {
        size_t worst = boxes.size();
        for (size_t b = 0; b < boxes.size(); ++b)
            if (boxes[b].splittable && (worst == boxes.size() || boxes[b].net.rmsError > boxes[worst].net.rmsError))
                worst = b;
        if (worst == boxes.size() || boxes[worst].net.rmsError <= options.tolerance)
            break;
        Box lower, upper;
        if (!splitBox(boxes[worst], set, P, restZ, lower, upper)) {
            // No cut fits: the next worst box may still gain from one.
            boxes[worst].splittable = false;
            continue;
        }
        trainBox(lower, set, P, nI, options, restZ, Random::seedOf(seed, ++trained), &boxes[worst].net);
        trainBox(upper, set, P, nI, options, restZ, Random::seedOf(seed, ++trained), &boxes[worst].net);
        boxes[worst] = std::move(lower);
        boxes.insert(boxes.begin() + long(worst) + 1, std::move(upper));
    }
    if (options.restBoxShare > 0.0)
        carveRestBoxes(boxes, set, P, nI, options, restZ, seed, trained);
    for (Box& box : boxes) {
        // Neighbouring boxes overlap by one float step, so no input falls between them.
        box.net.boxMin.resize(P);
        box.net.boxMax.resize(P);
        for (size_t d = 0; d < P; ++d) {
            box.net.boxMin[d] = std::nextafter(float(box.lo[d]), -unbounded);
            box.net.boxMax[d] = std::nextafter(float(box.hi[d]), unbounded);
            if (box.lo[d] <= -double(unbounded))
                box.net.boxMin[d] = -unbounded;
            if (box.hi[d] >= double(unbounded))
                box.net.boxMax[d] = unbounded;
        }
        model.networks.push_back(widenedToEveryCurrent(std::move(box.net), used, samples.nI));
    }
    return model;
}

StepTrainingOptions refitOptions(StepTrainingOptions options, uint32_t round)
{
    if (round == 0)
        return options;
    const double growth = 1.0 + 0.5 * double(round);
    options.boxes = uint32_t(std::lround(double(options.boxes) * growth));
    options.trainingPoints = uint32_t(std::lround(double(options.trainingPoints) * growth));
    options.tolerance = 0.0;
    return options;
}

} // namespace modelgen
