#include "StepTrainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

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

// The stage's view of the port voltages: mask, projection and the mapping both ways.
struct InputMap
{
    std::vector<uint32_t> enabled;  // indices of the enabled port voltages
    std::vector<double> axes;       // P x C1, row after row (identity for a standard stage)
    size_t P = 0;

    void project(const double* p, double* z) const
    {
        const size_t width = enabled.size();
        for (size_t r = 0; r < P; ++r) {
            double sum = 0.0;
            for (size_t c = 0; c < width; ++c)
                sum += axes[r * width + c] * p[enabled[c]];
            z[r] = sum;
        }
    }
    // Moves p by dz in the network inputs (the axes are orthonormal).
    void displace(double* p, const double* dz) const
    {
        const size_t width = enabled.size();
        for (size_t r = 0; r < P; ++r)
            for (size_t c = 0; c < width; ++c)
                p[enabled[c]] += axes[r * width + c] * dz[r];
    }
};

InputMap makeInputMap(const RegionSamples& samples, bool projected, StepModel& model)
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
    if (!projected) {
        map.axes.assign(width * width, 0.0);
        for (size_t k = 0; k < width; ++k)
            map.axes[k * width + k] = 1.0;
        return map;
    }
    std::vector<double> mean(width, 0.0), cov(width * width, 0.0);
    for (size_t s = 0; s < count; ++s)
        for (size_t a = 0; a < width; ++a)
            mean[a] += samples.p[s * nV + map.enabled[a]] / double(count);
    for (size_t s = 0; s < count; ++s)
        for (size_t a = 0; a < width; ++a)
            for (size_t b = 0; b < width; ++b)
                cov[a * width + b] += (samples.p[s * nV + map.enabled[a]] - mean[a]) *
                                      (samples.p[s * nV + map.enabled[b]] - mean[b]);
    map.axes = principalAxes(cov, width);
    model.projectedInputs = uint32_t(width);
    model.projectionColumns = uint32_t(width);
    model.projection.assign(width * width, 0.0);
    for (size_t r = 0; r < width; ++r)
        for (size_t c = 0; c < width; ++c)
            model.projection[c * width + r] = map.axes[r * width + c];
    return map;
}

// Training points: the visited set thinned to even coverage over a grid of the network inputs,
// the same number drawn at random (where the signal dwells), and points moved a little off the
// visited set with their exact currents.
struct TrainingSet
{
    std::vector<double> z, i;
    size_t size(size_t P) const { return z.size() / P; }
};

TrainingSet makeTrainingSet(const RegionSamples& samples, const InputMap& map, SSParamsVecAutomation& block,
                            size_t target, double jitterShare, Random& random)
{
    const size_t nV = samples.nV, nI = samples.nI, P = map.P, count = samples.size();
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
    std::vector<size_t> chosen;
    std::unordered_set<uint64_t> cells;
    for (size_t s = 0; s < count; ++s) {
        uint64_t key = 0;
        for (size_t d = 0; d < P; ++d) {
            const double span = hi[d] - lo[d];
            const auto cell = span > 0.0 ? uint64_t((z[s * P + d] - lo[d]) / span * (thinningCells - 1)) : 0;
            key = key * thinningCells + cell;
        }
        if (cells.insert(key).second)
            chosen.push_back(s);
    }
    const size_t even = std::min(chosen.size(), target / 2);
    std::vector<size_t> picked;
    for (size_t k = 0; k < even; ++k)
        picked.push_back(chosen[k * chosen.size() / even]);
    while (picked.size() < target * (1.0 - jitterShare) && count > 0)
        picked.push_back(random.below(count));

    TrainingSet set;
    auto addPoint = [&](const double* p, const double* i) {
        std::vector<double> zp(P);
        map.project(p, zp.data());
        set.z.insert(set.z.end(), zp.begin(), zp.end());
        set.i.insert(set.i.end(), i, i + nI);
    };
    for (size_t s : picked)
        addPoint(&samples.p[s * nV], &samples.i[s * nI]);

    PortCurrentSolver solver(block);
    std::vector<double> p(nV), current(nI), dz(P);
    while (set.size(P) < target && count > 0) {
        const size_t s = random.below(count);
        std::copy(&samples.p[s * nV], &samples.p[s * nV] + nV, p.begin());
        std::copy(&samples.i[s * nI], &samples.i[s * nI] + nI, current.begin());
        for (size_t d = 0; d < P; ++d)
            dz[d] = 0.02 * (hi[d] - lo[d]) * random.normal();
        map.displace(p.data(), dz.data());
        if (solver.solveWithBlockF(p, current))
            addPoint(p.data(), current.data());
        else
            addPoint(&samples.p[s * nV], &samples.i[s * nI]);
    }
    return set;
}
} // namespace

StepModel trainStep(const RegionSamples& samples, SSParamsVecAutomation& block, const StepTrainingOptions& options,
                    uint64_t seed)
{
    StepModel model;
    Random random(seed);
    const InputMap map = makeInputMap(samples, options.projected, model);
    const size_t P = map.P, nI = samples.nI;
    model.outputFlags.assign(nI, 1);

    const size_t boxes = std::max<uint32_t>(options.boxes, 1);
    const TrainingSet set =
        makeTrainingSet(samples, map, block, boxes * options.pointsPerBox, options.jitterShare, random);
    const size_t count = set.size(P);

    // Split along the first network input at quantiles; the outer boxes reach to infinity so that
    // every finite input finds a box.
    std::vector<double> first(count);
    for (size_t s = 0; s < count; ++s)
        first[s] = set.z[s * P];
    std::sort(first.begin(), first.end());
    std::vector<double> bounds(boxes + 1);
    bounds.front() = -double(unbounded);
    bounds.back() = double(unbounded);
    for (size_t b = 1; b < boxes; ++b)
        bounds[b] = first[b * count / boxes];

    for (size_t b = 0; b < boxes; ++b) {
        const double inner = b == 0 ? first.front() : bounds[b];
        const double outer = b + 1 == boxes ? first.back() : bounds[b + 1];
        const double margin = 0.15 * (outer - inner);
        std::vector<double> z, i;
        for (size_t s = 0; s < count; ++s) {
            const double v = set.z[s * P];
            if (v > bounds[b] - margin && v < bounds[b + 1] + margin) {
                z.insert(z.end(), &set.z[s * P], &set.z[s * P] + P);
                i.insert(i.end(), &set.i[s * nI], &set.i[s * nI] + nI);
            }
        }
        TrainingOptions networkOptions = options.network;
        networkOptions.symmetricOutput = options.projected;
        TrainedNetwork net = trainNetwork(z, i, uint32_t(P), uint32_t(nI), networkOptions, Random::seedOf(seed, b + 1));
        net.boxMin.assign(P, -unbounded);
        net.boxMax.assign(P, unbounded);
        // Neighbouring boxes overlap by one float step, so no input falls between them.
        if (b > 0)
            net.boxMin[0] = std::nextafter(float(bounds[b]), -unbounded);
        if (b + 1 < boxes)
            net.boxMax[0] = std::nextafter(float(bounds[b + 1]), unbounded);
        model.networks.push_back(std::move(net));
    }
    return model;
}

} // namespace modelgen
