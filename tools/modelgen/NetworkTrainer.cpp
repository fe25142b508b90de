#include "NetworkTrainer.h"

#include <algorithm>
#include <cmath>

#include "DenseSolve.h"
#include "Random.h"

namespace modelgen
{

namespace
{
// The output scaling: current = scale * networkOutput + offset, as the runner computes it; the
// trained outputs stay well inside the clamp of the linear piece.
struct OutputScaling
{
    float minimum, maximum;  // the record's outputMin, outputMax
    double scale() const { return double(maximum - minimum); }
};

OutputScaling outputScaling(double lo, double hi, bool symmetric)
{
    // At least 2e-8 A apart, so that the runner's 1e-8 floor never replaces the scale.
    const double span = std::max(hi - lo, 2e-8);
    if (symmetric) {
        const double centre = 0.5 * (lo + hi);
        return {float(centre), float(centre + 0.55 * span)};
    }
    return {float(lo - 0.05 * span), float(hi + 0.05 * span)};
}

// The network function in double precision with its gradient in the record's weight order:
// hidden neuron by hidden neuron (inputs, then bias), then output by output (hidden, then bias).
class NetworkFunction
{
public:
    NetworkFunction(uint32_t inputs, uint32_t hidden, uint32_t outputs, double hiddenSteepness,
                    double outputSteepness, std::vector<double> outputScale)
        : P(inputs), H(hidden), O(outputs), sh(hiddenSteepness), so(outputSteepness), scale(std::move(outputScale)),
          activation(hidden), slope(hidden)
    {
    }

    size_t weightCount() const { return size_t(H) * (P + 1) + size_t(O) * (H + 1); }
    size_t hiddenWeights() const { return size_t(H) * (P + 1); }
    size_t outputBase(uint32_t k) const { return hiddenWeights() + size_t(k) * (H + 1); }

    // Hidden activations of input x (normalised); keeps them for output() and gradient().
    void runHidden(const std::vector<double>& w, const double* x)
    {
        for (uint32_t j = 0; j < H; ++j) {
            const double* row = &w[size_t(j) * (P + 1)];
            double sum = row[P];
            for (uint32_t d = 0; d < P; ++d)
                sum += row[d] * x[d];
            const double a = sh * sum, denominator = 1.0 + std::fabs(a);
            activation[j] = a / denominator;
            slope[j] = sh / (denominator * denominator);
        }
    }

    // Output k in amperes minus its offset: scale * steepness * (V h + c).
    double output(const std::vector<double>& w, uint32_t k) const
    {
        const double* row = &w[outputBase(k)];
        double sum = row[H];
        for (uint32_t j = 0; j < H; ++j)
            sum += row[j] * activation[j];
        return scale[k] * so * sum;
    }

    // d output(k) / d w at the hidden layer last run: the hidden part (H (P + 1) entries) and
    // the part of output k (H + 1 entries).
    void gradient(const std::vector<double>& w, const double* x, uint32_t k, double* hiddenPart,
                  double* outputPart) const
    {
        const double factor = scale[k] * so;
        const double* row = &w[outputBase(k)];
        for (uint32_t j = 0; j < H; ++j) {
            const double back = factor * row[j] * slope[j];
            for (uint32_t d = 0; d < P; ++d)
                hiddenPart[size_t(j) * (P + 1) + d] = back * x[d];
            hiddenPart[size_t(j) * (P + 1) + P] = back;
            outputPart[j] = factor * activation[j];
        }
        outputPart[H] = factor;
    }

    const std::vector<double>& hidden() const { return activation; }

private:
    uint32_t P, H, O;
    double sh, so;
    std::vector<double> scale;
    std::vector<double> activation, slope;
};

// The pairs in the network's own units: normalised inputs, targets less the output offsets and
// over each output's error unit.
struct FitData
{
    size_t count = 0;
    uint32_t P = 0, O = 0;
    std::vector<double> x, t;
    std::vector<double> units;
    double decay = 0.0;  // weight of the output layer's squared weights in the cost
};

double cost(NetworkFunction& f, const std::vector<double>& w, const FitData& data)
{
    double sum = 0.0;
    for (size_t s = 0; s < data.count; ++s) {
        f.runHidden(w, &data.x[s * data.P]);
        for (uint32_t k = 0; k < data.O; ++k) {
            const double r = f.output(w, k) / data.units[k] - data.t[s * data.O + k];
            sum += r * r;
        }
    }
    for (size_t a = f.hiddenWeights(); a < w.size(); ++a)
        sum += data.decay * w[a] * w[a];
    return sum;
}

// Normal equations of the linearised problem: the lower triangle of JtJ, and Jt r.
//
// The gradient of output k has the hidden weights' part and that output's own part; the other
// outputs' weights do not move it. The hidden part of output k is back(k, j) x(d) for hidden neuron
// j and input d (the bias as an input of 1), so the hidden block of JtJ gathers, per point, the
// outputs' weighted products of back() into C(j, j') first and then adds C(j, j') x(d) x(d') once
// instead of once per output. Every update runs along a contiguous row, which the compiler
// vectorises.
void normalEquations(NetworkFunction& f, const std::vector<double>& w, const FitData& data, std::vector<double>& JtJ,
                     std::vector<double>& Jtr, uint32_t hidden)
{
    const size_t M = f.weightCount(), Hw = f.hiddenWeights(), P1 = data.P + 1, H = hidden, O = data.O;
    const size_t gradientSize = Hw + H + 1;
    std::fill(JtJ.begin(), JtJ.end(), 0.0);
    std::fill(Jtr.begin(), Jtr.end(), 0.0);
    std::vector<double> gradients(O * gradientSize), weights(O), residuals(O), xt(P1, 1.0), back(O * H),
        outer(Hw);
    for (size_t s = 0; s < data.count; ++s) {
        const double* x = &data.x[s * data.P];
        std::copy(x, x + data.P, xt.begin());
        f.runHidden(w, x);
        for (size_t k = 0; k < O; ++k) {
            double* g = &gradients[k * gradientSize];
            f.gradient(w, x, uint32_t(k), g, g + Hw);
            weights[k] = 1.0 / (data.units[k] * data.units[k]);
            residuals[k] = f.output(w, uint32_t(k)) - data.t[s * O + k] * data.units[k];
            for (size_t j = 0; j < H; ++j)
                back[k * H + j] = g[j * P1 + data.P];
            for (size_t a = 0; a < Hw; ++a)
                Jtr[a] += weights[k] * g[a] * residuals[k];
        }
        for (size_t j = 0; j < H; ++j) {
            // outer((j', d')) = C(j, j') x(d') for j' up to j.
            for (size_t jj = 0; jj <= j; ++jj) {
                double c = 0.0;
                for (size_t k = 0; k < O; ++k)
                    c += weights[k] * back[k * H + j] * back[k * H + jj];
                for (size_t d = 0; d < P1; ++d)
                    outer[jj * P1 + d] = c * xt[d];
            }
            for (size_t d = 0; d < P1; ++d) {
                const size_t a = j * P1 + d;
                double* row = &JtJ[a * M];
                const double xd = xt[d];
                for (size_t b = 0; b <= a; ++b)
                    row[b] += xd * outer[b];
            }
        }
        for (size_t k = 0; k < O; ++k) {
            const double* hiddenPart = &gradients[k * gradientSize];
            const double* outputPart = hiddenPart + Hw;
            const size_t base = f.outputBase(uint32_t(k));
            for (size_t a = 0; a <= H; ++a) {
                const double ga = weights[k] * outputPart[a];
                Jtr[base + a] += ga * residuals[k];
                double* row = &JtJ[(base + a) * M];
                for (size_t b = 0; b < Hw; ++b)
                    row[b] += ga * hiddenPart[b];
                for (size_t b = 0; b <= a; ++b)
                    row[base + b] += ga * outputPart[b];
            }
        }
    }
}

// Output weights by least squares on the hidden activations (the outputs are linear
// in them).
void fitOutputLayer(NetworkFunction& f, std::vector<double>& w, const FitData& data, uint32_t hidden,
                    const std::vector<double>& factors)
{
    const size_t width = hidden + 1;
    std::vector<double> rows(data.count * width);
    for (size_t s = 0; s < data.count; ++s) {
        f.runHidden(w, &data.x[s * data.P]);
        std::copy(f.hidden().begin(), f.hidden().end(), &rows[s * width]);
        rows[s * width + hidden] = 1.0;
    }
    for (uint32_t k = 0; k < data.O; ++k) {
        std::vector<double> normal(width * width, 0.0), rhs(width, 0.0);
        for (size_t s = 0; s < data.count; ++s) {
            const double* a = &rows[s * width];
            const double t = data.t[s * data.O + k] * data.units[k] / factors[k];
            for (size_t r = 0; r < width; ++r) {
                rhs[r] += a[r] * t;
                for (size_t c = 0; c < width; ++c)
                    normal[r * width + c] += a[r] * a[c];
            }
        }
        double trace = 0.0;
        for (size_t r = 0; r < width; ++r)
            trace += normal[r * width + r];
        const double decay = data.decay * (data.units[k] / factors[k]) * (data.units[k] / factors[k]);
        for (size_t r = 0; r < width; ++r)
            normal[r * width + r] += 1e-10 * trace / double(width) + decay;
        if (velmorant::solveInPlace(normal, rhs, width))
            std::copy(rhs.begin(), rhs.end(), &w[f.outputBase(k)]);
    }
}

// Solves A z = b in place (b becomes z) for a symmetric positive definite A, of which the lower
// triangle is read and overwritten, by Cholesky's factorisation. Each column's multipliers are
// copied out first, so that the update of every later row runs along contiguous memory. Returns
// false when A is not positive definite.
bool solveSymmetricInPlace(std::vector<double>& A, std::vector<double>& b, size_t n, std::vector<double>& column)
{
    column.resize(n);
    for (size_t j = 0; j < n; ++j) {
        const double d = A[j * n + j];
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        const double l = std::sqrt(d);
        A[j * n + j] = l;
        for (size_t i = j + 1; i < n; ++i) {
            A[i * n + j] /= l;
            column[i] = A[i * n + j];
        }
        for (size_t i = j + 1; i < n; ++i) {
            const double f = column[i];
            double* row = &A[i * n];
            for (size_t k = j + 1; k <= i; ++k)
                row[k] -= f * column[k];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        double sum = b[i];
        for (size_t k = 0; k < i; ++k)
            sum -= A[i * n + k] * b[k];
        b[i] = sum / A[i * n + i];
    }
    for (size_t i = n; i-- > 0;) {
        double sum = b[i];
        for (size_t k = i + 1; k < n; ++k)
            sum -= A[k * n + i] * b[k];
        b[i] = sum / A[i * n + i];
    }
    return true;
}

void levenbergMarquardt(NetworkFunction& f, std::vector<double>& w, const FitData& data, uint32_t hidden,
                        uint32_t iterations)
{
    const size_t M = f.weightCount();
    std::vector<double> JtJ(M * M), Jtr(M), system(M * M), step(M), trial(M), column(M);
    double current = cost(f, w, data), lambda = 1e-3;
    bool fresh = false;
    for (uint32_t it = 0; it < iterations && lambda < 1e12; ++it) {
        if (!fresh) {
            normalEquations(f, w, data, JtJ, Jtr, hidden);
            for (size_t a = f.hiddenWeights(); a < M; ++a) {
                JtJ[a * M + a] += data.decay;
                Jtr[a] += data.decay * w[a];
            }
            fresh = true;
        }
        double largestDiagonal = 0.0;
        for (size_t a = 0; a < M; ++a)
            largestDiagonal = std::max(largestDiagonal, JtJ[a * M + a]);
        system = JtJ;
        for (size_t a = 0; a < M; ++a)
            system[a * M + a] += lambda * (JtJ[a * M + a] + 1e-9 * largestDiagonal);
        for (size_t a = 0; a < M; ++a)
            step[a] = -Jtr[a];
        if (!solveSymmetricInPlace(system, step, M, column)) {
            lambda *= 10.0;
            continue;
        }
        for (size_t a = 0; a < M; ++a)
            trial[a] = w[a] + step[a];
        const double candidate = cost(f, trial, data);
        if (std::isfinite(candidate) && candidate < current) {
            const bool stalled = candidate > current * (1.0 - 1e-9);
            w.swap(trial);
            current = candidate;
            lambda = std::max(lambda / 3.0, 1e-12);
            fresh = false;
            if (stalled)
                break;
        } else {
            lambda *= 4.0;
        }
    }
}

// Hidden neurons whose steep parts are spread over the normalised input cube, their slopes spread
// log-uniformly over a decade: a gain stage whose second triode swings from cut-off to full
// current within a volt of its input needs a few steep neurons, which the fit rarely grows from
// gentle ones.
void initialiseHidden(std::vector<double>& w, uint32_t P, uint32_t H, double hiddenSteepness, Random& random)
{
    constexpr double steepestStart = 10.0;
    for (uint32_t j = 0; j < H; ++j) {
        double* row = &w[size_t(j) * (P + 1)];
        double norm = 0.0;
        for (uint32_t d = 0; d < P; ++d) {
            row[d] = random.normal();
            norm += row[d] * row[d];
        }
        const double gain =
            std::exp(random.uniform(0.0, std::log(steepestStart))) / (hiddenSteepness * std::sqrt(std::max(norm, 1e-12)));
        for (uint32_t d = 0; d < P; ++d)
            row[d] *= gain;
        row[P] = random.uniform(-1.0, 1.0) * gain * std::sqrt(norm);
    }
}
double normalisationScale(float lo, float hi)
{
    return double(lo != hi ? 2.0f / (hi - lo) : 0.0f);
}

// The start's hidden layer rewritten for this network's input normalisation: both are affine in
// the raw input, so the start's normalised input is a x + c of this one's.
void takeOverHidden(const TrainedNetwork& start, const TrainedNetwork& net, uint32_t P, uint32_t H,
                    std::vector<double>& w)
{
    std::vector<double> a(P), c(P);
    for (uint32_t d = 0; d < P; ++d) {
        const double own = normalisationScale(net.inputMin[d], net.inputMax[d]);
        const double theirs = normalisationScale(start.inputMin[d], start.inputMax[d]);
        a[d] = own != 0.0 ? theirs / own : 0.0;
        c[d] = (double(net.inputMin[d]) - double(start.inputMin[d])) * theirs + a[d] - 1.0;
    }
    for (uint32_t j = 0; j < H; ++j) {
        const float* from = &start.weights[size_t(j) * (P + 1)];
        double* to = &w[size_t(j) * (P + 1)];
        to[P] = double(from[P]);
        for (uint32_t d = 0; d < P; ++d) {
            to[d] = double(from[d]) * a[d];
            to[P] += double(from[d]) * c[d];
        }
    }
}
} // namespace

TrainedNetwork trainNetwork(const std::vector<double>& inputs, const std::vector<double>& targets, uint32_t inputCount,
                            uint32_t outputCount, const TrainingOptions& options, uint64_t seed,
                            const TrainedNetwork* start)
{
    const size_t count = inputs.size() / inputCount;
    const uint32_t hidden = options.hiddenNeurons;
    TrainedNetwork net;
    net.hiddenLayers = {hidden};

    FitData data;
    data.count = count;
    data.P = inputCount;
    data.O = outputCount;

    // Input normalisation onto -1 .. +1 over the training points, with a little room, computed
    // from the stored single-precision bounds as the runner does.
    net.inputMin.resize(inputCount);
    net.inputMax.resize(inputCount);
    data.x.resize(count * inputCount);
    for (uint32_t d = 0; d < inputCount; ++d) {
        double lo = inputs[d], hi = inputs[d];
        for (size_t s = 0; s < count; ++s) {
            lo = std::min(lo, inputs[s * inputCount + d]);
            hi = std::max(hi, inputs[s * inputCount + d]);
        }
        const double pad = 0.01 * (hi - lo);
        net.inputMin[d] = float(lo - pad);
        net.inputMax[d] = float(hi + pad);
        const float scale = net.inputMax[d] != net.inputMin[d] ? 2.0f / (net.inputMax[d] - net.inputMin[d]) : 0.0f;
        for (size_t s = 0; s < count; ++s)
            data.x[s * inputCount + d] =
                double(float((inputs[s * inputCount + d] - double(net.inputMin[d])) * double(scale) - 1.0));
    }

    // Each output's error counts over the geometric mean of its own span and the widest one: a grid
    // current a hundredth of the plate current still gets a fair share of the fit, since it charges
    // the coupling capacitor in front of the grid, and the numbers stay near one.
    std::vector<OutputScaling> scaling;
    std::vector<double> outputScale;
    for (uint32_t k = 0; k < outputCount; ++k) {
        double lo = targets[k], hi = targets[k];
        for (size_t s = 0; s < count; ++s) {
            lo = std::min(lo, targets[s * outputCount + k]);
            hi = std::max(hi, targets[s * outputCount + k]);
        }
        scaling.push_back(outputScaling(lo, hi, options.symmetricOutput));
        net.outputMin.push_back(scaling.back().minimum);
        net.outputMax.push_back(scaling.back().maximum);
        outputScale.push_back(scaling.back().scale());
    }
    double widest = 0.0;
    for (double span : outputScale)
        widest = std::max(widest, span);
    for (double span : outputScale)
        data.units.push_back(std::sqrt(span * widest));
    data.t.resize(count * outputCount);
    for (size_t s = 0; s < count; ++s)
        for (uint32_t k = 0; k < outputCount; ++k)
            data.t[s * outputCount + k] = (targets[s * outputCount + k] - double(scaling[k].minimum)) / data.units[k];
    data.decay = options.weightDecay * double(count * outputCount);

    NetworkFunction f(inputCount, hidden, outputCount, net.hiddenSteepness, net.outputSteepness, outputScale);
    std::vector<double> w(f.weightCount(), 0.0);
    Random random(seed);
    if (start != nullptr && start->weights.size() == w.size() && start->inputMin.size() == inputCount)
        takeOverHidden(*start, net, inputCount, hidden, w);
    else
        initialiseHidden(w, inputCount, hidden, double(net.hiddenSteepness), random);
    std::vector<double> factors(outputCount);
    for (uint32_t k = 0; k < outputCount; ++k)
        factors[k] = outputScale[k] * double(net.outputSteepness);
    fitOutputLayer(f, w, data, hidden, factors);
    levenbergMarquardt(f, w, data, hidden, options.iterations);
    net.weights.assign(w.begin(), w.end());

    // Errors in amperes with the stored single-precision weights, clamps included.
    const std::vector<double> stored(net.weights.begin(), net.weights.end());
    const double lowClamp = options.symmetricOutput ? -1.0 : 0.0;
    std::vector<double> squared(outputCount, 0.0);
    for (size_t s = 0; s < count; ++s) {
        f.runHidden(stored, &data.x[s * inputCount]);
        for (uint32_t k = 0; k < outputCount; ++k) {
            const double o = std::clamp(f.output(stored, k) / outputScale[k], lowClamp, 1.0);
            const double current = std::max(0.0, outputScale[k] * o + double(scaling[k].minimum));
            const double error = std::fabs(current - targets[s * outputCount + k]);
            squared[k] += error * error;
            net.maxError = std::max(net.maxError, error);
        }
    }
    for (double sq : squared)
        net.rmsError = std::max(net.rmsError, std::sqrt(sq / double(std::max<size_t>(count, 1))));
    return net;
}

} // namespace modelgen
