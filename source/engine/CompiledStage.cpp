#include "CompiledStage.h"

#include "InputStageBlock.h"
#include "NeuralNetRunner.h"
#include "PreampChannel.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>
#include <utility>

namespace
{
// Two chains' values of one quantity, one per lane: every operation on it is the operation on
// each lane alone, so each chain gets the bits it gets alone.
using Pair = double __attribute__((vector_size(16)));

// Up to four currents in single precision, and a mask of their lanes.
typedef float Floats __attribute__((vector_size(16)));
typedef int32_t FloatMask __attribute__((vector_size(16)));

template <class T>
constexpr uint32_t laneCount = 1;
template <>
constexpr uint32_t laneCount<Pair> = 2;

// The same value in every lane.
template <class T>
T broadcast(double value)
{
    return T{} + value;
}

inline double getLane(double value, uint32_t) { return value; }
inline double getLane(const Pair& value, uint32_t lane) { return value[lane]; }
inline void setLane(double& value, uint32_t, double laneValue) { value = laneValue; }
inline void setLane(Pair& value, uint32_t lane, double laneValue) { value[lane] = laneValue; }

// A column-major copy of a matrix of fixed shape, read as m(r, c) like gmm's; in pairs each entry
// fills both lanes, so that the products take it as it is.
template <uint32_t Rows, uint32_t Columns, class T>
struct FixedMatrix
{
    T operator()(uint32_t r, uint32_t c) const { return entries[c * Rows + r]; }

    void copy(const gmm::dense_matrix<double>& source)
    {
        const double* data = source.data();
        for (uint32_t k = 0; k < Rows * Columns; ++k)
            entries[k] = broadcast<T>(data[k]);
    }

    T entries[Rows * Columns];
};

template <class T, uint32_t Count>
bool sameBits(const T (&a)[Count], const T (&b)[Count])
{
    return std::memcmp(a, b, sizeof a) == 0;
}

// A compiled shape: the block class, the port voltages the projection takes (0: the stage's files
// project nothing) and the network inputs.
template <class BlockClass, uint32_t ProjectionWidth, uint32_t NetworkInputs>
struct Shape
{
    using Block = BlockClass;
    static constexpr uint32_t width = ProjectionWidth;
    static constexpr uint32_t inputs = NetworkInputs;
};

template <class KindShape>
class CompiledStageOf final : public CompiledStage
{
public:
    using StageShape = KindShape;

private:
    using Block = typename StageShape::Block;
    static constexpr uint32_t N = Block::stateCount;
    static constexpr uint32_t In = Block::inputCount;
    static constexpr uint32_t V = Block::portVoltageCount;
    static constexpr uint32_t I = Block::portCurrentCount;
    static constexpr uint32_t Width = StageShape::width;
    static constexpr uint32_t Inputs = StageShape::inputs;

    // A stage's state with its values alone (double) or in pairs (Pair).
    template <class T>
    struct State
    {
        T x[N], x0[N], u[In], p[V], i[I], i0[I], y, input[Inputs];
    };

    // The stage's matrices and projection, for values alone or in pairs; the block's formulas read
    // them as m.A(r, c) and so on.
    template <class T>
    struct Matrices
    {
        void copy(const NonlinearStateSpaceSolver& from, const PreampChannel& owner, uint8_t index)
        {
            A.copy(from.A), B.copy(from.B), C.copy(from.C), D.copy(from.D), E.copy(from.E);
            G.copy(from.G), H.copy(from.H), K.copy(from.K);
            const bool active = owner.projectionActive[index] && owner.enabledVoltageCount[index] == Width;
            for (uint32_t k = 0; k < Width * Inputs; ++k)
                projection[k] = broadcast<T>(active ? owner.projectionMatrix[index][k] : 0.0);
        }

        FixedMatrix<N, N, T> A;
        FixedMatrix<N, In, T> B;
        FixedMatrix<N, I, T> C;
        FixedMatrix<V, N, T> D;
        FixedMatrix<V, In, T> E;
        FixedMatrix<1, N, T> G;
        FixedMatrix<1, In, T> H;
        FixedMatrix<1, I, T> K;
        T projection[Width > 0 ? Width * Inputs : 1];
    };

    // A stage's state with the matrices it is stepped with, alone or in pairs.
    template <class T>
    struct Stage : State<T>
    {
        Matrices<T> m;
    };

public:
    CompiledStageOf(PreampChannel& owner, uint8_t index) : chain(owner), stage(index), solver(owner.solvers[index]) {}

    bool refresh() override
    {
        alone.m.copy(solver, chain, stage);
        both.m.copy(solver, chain, stage);
        projectionActive = chain.projectionActive[stage];
        if (!predictionEntriesMatch(alone.m) || chain.networkInputCount[stage] != Inputs
            || (projectionActive && chain.enabledVoltageCount[stage] != Width) || chain.enabledCurrentCount[stage] != I)
            return false;
        for (uint32_t k = 0; k < Width; ++k)
            enabled[k] = projectionActive ? chain.enabledVoltages[stage][k] : 0;
        return true;
    }

    void load() override
    {
        load(alone, *this, 0);
        predict(alone, constantRows);
        pairHolder = nullptr;
    }
    void store() override { store(alone, *this, 0); }

    void begin(double signal) override
    {
        begin(alone, signal);
        runner = match(chain, alone.input);
        if (runner == nullptr)
            zeroCurrents(alone);
    }

    void evaluate() override
    {
        if (runner != nullptr)
            writeCurrents(*runner, runner->outputsFor(alone.input), alone.i, 0);
    }

    double finish() override { return end(alone); }

    bool canPairWith(const CompiledStage& otherStage) const override
    {
        const CompiledStageOf* other = dynamic_cast<const CompiledStageOf*>(&otherStage);
        if (other == nullptr || projectionActive != other->projectionActive || !sameBits(enabled, other->enabled))
            return false;
        for (uint32_t k = 1; k < In; ++k)
            if (std::memcmp(&chain.stageInputs[stage][k], &other->chain.stageInputs[stage][k], sizeof(double)) != 0)
                return false;
        const Matrices<double>& m = alone.m;
        const Matrices<double>& o = other->alone.m;
        return sameBits(m.A.entries, o.A.entries) && sameBits(m.B.entries, o.B.entries)
               && sameBits(m.C.entries, o.C.entries) && sameBits(m.D.entries, o.D.entries)
               && sameBits(m.E.entries, o.E.entries) && sameBits(m.G.entries, o.G.entries)
               && sameBits(m.H.entries, o.H.entries) && sameBits(m.K.entries, o.K.entries)
               && sameBits(m.projection, o.projection);
    }

    void loadPair(CompiledStage& other) override
    {
        CompiledStageOf& second = static_cast<CompiledStageOf&>(other);
        load(both, *this, 0);
        load(both, second, 1);
        predict(both, constantRows);
        takeCore(chain, 0);
        takeCore(second.chain, 1);
        pairHolder = second.pairHolder = this;
        pairLane = 0;
        second.pairLane = 1;
    }

    void storePair(CompiledStage& other) override
    {
        store(both, *this, 0);
        store(both, static_cast<CompiledStageOf&>(other), 1);
    }

    void beginPair(CompiledStage& otherStage, const SignalPair& signals) override
    {
        CompiledStageOf& other = static_cast<CompiledStageOf&>(otherStage);
        Pair signal;
        std::memcpy(&signal, &signals, sizeof signal);
        begin(both, signal);
        splitLanes(both.input, input, other.input);
        const int holding = coresHolding(both.input);
        runner = holding & 1 ? chain.lastRunner[stage] : search(chain, input, 0);
        other.runner = holding & 2 ? other.chain.lastRunner[stage] : search(other.chain, other.input, 1);
        if (runner == nullptr || other.runner == nullptr)
            zeroCurrents(both);
    }

    void evaluatePair(CompiledStage& otherStage) override
    {
        evaluateHiddenPair(otherStage);
        evaluateOutputPair(otherStage);
    }

    // evaluatePair in two halves, so that a tick can interleave its stages' networks: the two
    // networks' hidden layers when they run together, else both networks whole; then the output
    // layers, and the currents (when the networks run together, scaled where the output layers
    // are computed; the runners' netOutput is then left as it was). Inline in the ticks, whose
    // stages' work overlaps only there.
    void evaluateHiddenPair(CompiledStage& otherStage)
    {
        CompiledStageOf& other = static_cast<CompiledStageOf&>(otherStage);
        NeuralNetRunner* otherRunner = other.runner;
        networksTogether = runner != nullptr && otherRunner != nullptr && runner->evaluator && otherRunner->evaluator
                           && NetworkEvaluator::canRunPair(*runner->evaluator, *otherRunner->evaluator);
        if (networksTogether)
            NetworkEvaluator::runHiddenPair(*runner->evaluator, input, runner->netInput, *otherRunner->evaluator,
                                            other.input, otherRunner->netInput);
        else
        {
            output = runner != nullptr ? runner->outputsFor(input) : nullptr;
            other.output = otherRunner != nullptr ? otherRunner->outputsFor(other.input) : nullptr;
        }
    }

    void evaluateOutputPair(CompiledStage& otherStage)
    {
        CompiledStageOf& other = static_cast<CompiledStageOf&>(otherStage);
        NeuralNetRunner* otherRunner = other.runner;
        if (networksTogether)
        {
            static_assert(sizeof(Pair) == 2 * sizeof(double), "a pair's lanes are consecutive doubles");
            NetworkEvaluator::runOutputPairCurrents(*runner->evaluator, *otherRunner->evaluator,
                                                    reinterpret_cast<double*>(both.i));
            return;
        }
        if (runner != nullptr && otherRunner != nullptr)
            writeCurrentPairs(*runner, output, *otherRunner, other.output, both.i);
        else if (runner != nullptr)
            writeCurrents(*runner, output, both.i, 0);
        else if (otherRunner != nullptr)
            writeCurrents(*otherRunner, other.output, both.i, 1);
    }

    void finishPair(SignalPair& signals) override
    {
        const Pair outputs = end(both);
        std::memcpy(&signals, &outputs, sizeof outputs);
    }

    const double* currentOf(uint32_t k) const override
    {
        return pairHolder != nullptr ? reinterpret_cast<const double*>(&pairHolder->both.i[k]) + pairLane : &alone.i[k];
    }

private:
    template <class T>
    static void load(State<T>& s, CompiledStageOf& from, uint32_t lane)
    {
        const NonlinearStateSpaceSolver& solver = from.solver;
        const PreampChannel& chain = from.chain;
        for (uint32_t k = 0; k < N; ++k)
            setLane(s.x[k], lane, solver.x[k]), setLane(s.x0[k], lane, solver.x0[k]);
        for (uint32_t k = 0; k < I; ++k)
            setLane(s.i[k], lane, solver.i[k]), setLane(s.i0[k], lane, solver.i0[k]);
        for (uint32_t k = 0; k < V; ++k)
            setLane(s.p[k], lane, solver.p[k]);
        for (uint32_t k = 0; k < In; ++k)
            setLane(s.u[k], lane, chain.stageInputs[from.stage][k]);
        for (uint32_t k = 0; k < Inputs; ++k)
            setLane(s.input[k], lane, chain.networkInput[from.stage][k]);
        setLane(s.y, lane, chain.stageOutputs[from.stage][0]);
    }

    template <class T>
    static void store(const State<T>& s, CompiledStageOf& to, uint32_t lane)
    {
        NonlinearStateSpaceSolver& solver = to.solver;
        PreampChannel& chain = to.chain;
        for (uint32_t k = 0; k < N; ++k)
            solver.x[k] = getLane(s.x[k], lane);
        for (uint32_t k = 0; k < I; ++k)
            solver.i[k] = getLane(s.i[k], lane);
        for (uint32_t k = 0; k < V; ++k)
            solver.p[k] = getLane(s.p[k], lane);
        for (uint32_t k = 0; k < Inputs; ++k)
            chain.networkInput[to.stage][k] = getLane(s.input[k], lane);
        chain.stageInputs[to.stage][0] = getLane(s.u[0], lane);
        chain.stageOutputs[to.stage][0] = getLane(s.y, lane);
        chain.stageInputs[to.stage + 1][0] = getLane(s.y, lane);
    }

    // The generic step's prediction leaves out the terms of zero entries of D and E; this step
    // leaves out those of the entries the block never sets, at compile time. The two agree when
    // exactly those entries are zero, which refresh() checks.
    static bool predictionEntriesMatch(const Matrices<double>& m)
    {
        for (uint32_t r = 0; r < V; ++r)
            for (uint32_t c = 0; c < N + In; ++c)
                if ((c < N ? m.D(r, c) : m.E(r, c - N)) != 0.0 ? !Block::predictionEntries[r][c]
                                                             : Block::predictionEntries[r][c])
                    return false;
        return true;
    }

    // Whether row r of the prediction takes only constant inputs (u[1] on), which stay the same
    // through a block of samples: load() predicts those rows, begin() the others.
    static constexpr bool constantRow(uint32_t r)
    {
        for (uint32_t c = 0; c < N + 1; ++c)
            if (Block::predictionEntries[r][c])
                return false;
        return true;
    }

    enum RowKind : bool
    {
        varyingRows = false,
        constantRows = true
    };

    // The generic step's p = D x + E u over the rows of one kind: each row from +0.0, the
    // columns of D, then those of E, without the entries the block never sets.
    template <class T>
    static void predict(Stage<T>& s, RowKind kind)
    {
        // Unrolled, so that the entries' tests vanish at compile time.
        const Matrices<T>& m = s.m;
#pragma GCC unroll 4
        for (uint32_t r = 0; r < V; ++r)
        {
            if (constantRow(r) != kind)
                continue;
            T sum = T{};
#pragma GCC unroll 4
            for (uint32_t c = 0; c < N; ++c)
                if (Block::predictionEntries[r][c])
                    sum += m.D(r, c) * s.x[c];
#pragma GCC unroll 4
            for (uint32_t c = 0; c < In; ++c)
                if (Block::predictionEntries[r][N + c])
                    sum += m.E(r, c) * s.u[c];
            s.p[r] = sum;
        }
    }

    // The generic step up to the network input: the prediction, then the projection (each row
    // from +0.0) or p itself.
    template <class T>
    void begin(Stage<T>& s, T signal) const
    {
        const Matrices<T>& m = s.m;
        s.u[0] = signal;
        predict(s, varyingRows);
        if (projectionActive)
            for (uint32_t r = 0; r < Inputs; ++r)
            {
                T sum = T{};
                for (uint32_t k = 0; k < Width; ++k)
                    sum += s.p[enabled[k]] * m.projection[r * Width + k];
                s.input[r] = sum;
            }
        else
            for (uint32_t k = 0; k < Inputs; ++k)
                s.input[k] = s.p[k];
    }

    // The runner whose network gives the chain's currents: the last match when the core of its box
    // holds the input, else the chain's search; null when the tone stage found no box.
    NeuralNetRunner* match(PreampChannel& owner, const double* networkInput) const
    {
        if (owner.stepRunnerCount[stage] != 0 && PreampChannel::boxHolds(owner.lastCore[stage], networkInput, Inputs))
            return owner.lastRunner[stage];
        return owner.searchRunnerOf<Inputs>(stage, networkInput);
    }

    // In pairs, match() with the two chains' cores tested side by side: lane `lane` of the pair's
    // core bounds holds the core of that chain's last match (PreampChannel::boxHolds' layout, its
    // strict comparisons, a NaN outside), or an empty core (+inf to -inf) when its step has no
    // runners, so that the search decides.
    void takeCore(const PreampChannel& owner, uint32_t lane)
    {
        const double* core = owner.stepRunnerCount[stage] != 0 ? owner.lastCore[stage] : nullptr;
        for (uint32_t k = 0; k < Inputs; ++k)
        {
            setLane(coreLow[k], lane, core != nullptr ? core[k] : HUGE_VAL);
            setLane(coreHigh[k], lane, core != nullptr ? core[Inputs + k] : -HUGE_VAL);
        }
    }

    // Bit `lane` set where that chain's core holds its lane of the inputs.
    int coresHolding(const Pair* inputs) const
    {
        const auto holds = [&](uint32_t k) {
            const __m128d value = __m128d(inputs[k]);
            return _mm_and_pd(_mm_cmplt_pd(__m128d(coreLow[k]), value), _mm_cmplt_pd(value, __m128d(coreHigh[k])));
        };
        __m128d inside = holds(0);
        for (uint32_t k = 1; k < Inputs; ++k)
            inside = _mm_and_pd(inside, holds(k));
        return _mm_movemask_pd(inside);
    }

    NeuralNetRunner* search(PreampChannel& owner, const double* networkInput, uint32_t lane)
    {
        NeuralNetRunner* found = owner.searchRunnerOf<Inputs>(stage, networkInput);
        takeCore(owner, lane);
        return found;
    }

    // Each chain's network inputs out of the pair's lanes, two inputs to one 16-byte store: the
    // networks load their first two inputs as one vector, which the processor takes straight
    // from such a store but must wait for after two 8-byte stores.
    static void splitLanes(const Pair* pairs, double* first, double* second)
    {
        uint32_t k = 0;
        for (; k + 1 < Inputs; k += 2)
        {
            const __m128d a = __m128d(pairs[k]), b = __m128d(pairs[k + 1]);
            _mm_storeu_pd(first + k, _mm_unpacklo_pd(a, b));
            _mm_storeu_pd(second + k, _mm_unpackhi_pd(a, b));
        }
        if (k < Inputs)
        {
            _mm_storel_pd(first + k, __m128d(pairs[k]));
            _mm_storeh_pd(second + k, __m128d(pairs[k]));
        }
    }

    // The runner's currents from its network's outputs as NeuralNetRunner::currentFrom gives them
    // (y = outputScale * output + outputMin in single precision; y when y >= 0, else 0, NaN
    // included), all at once and without a branch on the sign, which the data make unpredictable:
    // the selection keeps y's bits, -0 included. No network: zero currents. writeCurrents puts
    // them in the chain's lane.
    static Floats currentsOf(const NeuralNetRunner& runner, const float* output)
    {
        Floats y{};
        if (output != nullptr)
        {
            y = loadFloats(runner.outputScale) * loadFloats(output) + loadFloats(runner.outputMin);
            y = Floats(FloatMask(y) & (y >= Floats{}));
        }
        return y;
    }

    // The I floats at `from`, the other lanes 0, in one load of their width: two floats copied
    // into a vector through memory cost the processor a store it cannot forward to the load.
    static Floats loadFloats(const float* from)
    {
        static_assert(I == 2 || I == 4, "two or four currents");
        if constexpr (I == 4)
            return Floats(_mm_loadu_ps(from));
        else
            return Floats(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from))));
    }

    template <class T>
    static void writeCurrents(const NeuralNetRunner& runner, const float* output, T* currents, uint32_t lane)
    {
        const Floats y = currentsOf(runner, output);
        for (uint32_t j = 0; j < I; ++j)
            setLane(currents[j], lane, double(y[j]));
    }

    // writeCurrents of both chains at once, each chain's current j in its lane of currents[j]:
    // the two chains' single-precision currents interleaved, then widened two at a time.
    static void writeCurrentPairs(const NeuralNetRunner& first, const float* firstOutput,
                                  const NeuralNetRunner& second, const float* secondOutput, Pair* currents)
    {
        const __m128 a = __m128(currentsOf(first, firstOutput)), b = __m128(currentsOf(second, secondOutput));
        const __m128 interleaved[] = {_mm_unpacklo_ps(a, b), _mm_unpackhi_ps(a, b)};
        for (uint32_t j = 0; j < I; ++j)
        {
            const __m128 both = interleaved[j / 2];
            currents[j] = Pair(_mm_cvtps_pd(j % 2 == 0 ? both : _mm_movehl_ps(both, both)));
        }
    }

    // The currents of a chain whose tone stage found no box are zero (in pairs the lanes of a chain
    // that found one are written after).
    template <class T>
    static void zeroCurrents(Stage<T>& s)
    {
        for (T& current : s.i)
            current = T{};
    }

    // The generic step after the currents: the block's state update and output, and the chain
    // put back to its operating point when its state or currents left the finite numbers.
    template <class T>
    T end(Stage<T>& s) const
    {
        T next[N];
        Block::nextState(s.m, s.u, s.i, s.x, next);
        for (uint32_t k = 0; k < N; ++k)
            s.x[k] = next[k];
        s.y = Block::outputOf(s.m, s.u, s.i, s.x);
        T probe = s.y * 0.0;
        for (const T& value : s.x)
            probe += value * 0.0;
        for (const T& value : s.i)
            probe += value * 0.0;
        for (uint32_t lane = 0; lane < laneCount<T>; ++lane)
            if (getLane(probe, lane) != getLane(probe, lane))
                returnToOperatingPoint(s, lane);
        return s.y;
    }

    template <class T>
    void returnToOperatingPoint(Stage<T>& s, uint32_t lane) const
    {
        for (uint32_t k = 0; k < N; ++k)
            setLane(s.x[k], lane, getLane(s.x0[k], lane));
        for (uint32_t k = 0; k < I; ++k)
            setLane(s.i[k], lane, getLane(s.i0[k], lane));
        const T y = Block::outputOf(s.m, s.u, s.i, s.x);
        setLane(s.y, lane, std::isfinite(getLane(y, lane)) ? getLane(y, lane) : 0.0);
    }

    PreampChannel& chain;
    const uint8_t stage;
    NonlinearStateSpaceSolver& solver;
    bool projectionActive = false;
    uint32_t enabled[Width > 0 ? Width : 1] = {};
    Stage<double> alone{};
    Stage<Pair> both{};
    // Between the parts of a step: the chain's network input, the runner to evaluate, its outputs,
    // and whether the two chains' networks run together.
    alignas(16) double input[Inputs] = {};
    NeuralNetRunner* runner = nullptr;
    const float* output = nullptr;
    bool networksTogether = false;
    // Where currentOf() finds the chain's currents: its own state alone (no holder), else its lane of
    // the pair's state, which the first chain's stage holds.
    const CompiledStageOf* pairHolder = nullptr;
    uint32_t pairLane = 0;
    // In pairs, the cores of the two chains' last matches (takeCore).
    Pair coreLow[Inputs] = {}, coreHigh[Inputs] = {};
};

// The ticks of a chain whose stages are of the given compiled kinds, in order: each part of each
// stage called on its own class, without a virtual call.
template <class... Kinds>
struct ChainOf
{
    static constexpr auto all = std::index_sequence_for<Kinds...>{};

    // part of each stage from firstStage to lastStage, in order. Every: all the stages step, known
    // at compile time (every tick but the few at the ends of a block), so nothing is tested.
    template <bool Every, class Part, std::size_t... S>
    static void each(std::index_sequence<S...>, CompiledStage* const* stages, uint32_t firstStage, uint32_t lastStage,
                     Part part)
    {
        ((Every || (S >= firstStage && S <= lastStage) ? part(static_cast<Kinds&>(*stages[S]), S) : void()), ...);
    }

    static bool everyStage(uint32_t firstStage, uint32_t lastStage)
    {
        return firstStage == 0 && lastStage + 1 == sizeof...(Kinds);
    }

    template <bool Every>
    static void tickOf(CompiledStage* const* stages, const double* input, double* output, uint32_t firstStage,
                       uint32_t lastStage)
    {
        each<Every>(all, stages, firstStage, lastStage, [&](auto& stage, std::size_t k) { stage.begin(input[k]); });
        each<Every>(all, stages, firstStage, lastStage, [](auto& stage, std::size_t) { stage.evaluate(); });
        each<Every>(all, stages, firstStage, lastStage,
                    [&](auto& stage, std::size_t k) { output[k] = stage.finish(); });
    }

    static void tick(CompiledStage* const* stages, const double* input, double* output, uint32_t firstStage,
                     uint32_t lastStage)
    {
        if (everyStage(firstStage, lastStage))
            tickOf<true>(stages, input, output, firstStage, lastStage);
        else
            tickOf<false>(stages, input, output, firstStage, lastStage);
    }

    template <bool Every>
    static void pairTickOf(CompiledStage* const* first, CompiledStage* const* second,
                           const CompiledStage::SignalPair* input, CompiledStage::SignalPair* output,
                           uint32_t firstStage, uint32_t lastStage)
    {
        each<Every>(all, first, firstStage, lastStage, [&](auto& stage, std::size_t k) {
            stage.beginPair(*second[k], input[k]);
        });
        each<Every>(all, first, firstStage, lastStage,
                    [&](auto& stage, std::size_t k) { stage.evaluateHiddenPair(*second[k]); });
        each<Every>(all, first, firstStage, lastStage,
                    [&](auto& stage, std::size_t k) { stage.evaluateOutputPair(*second[k]); });
        each<Every>(all, first, firstStage, lastStage,
                    [&](auto& stage, std::size_t k) { stage.finishPair(output[k]); });
    }

    static void pairTick(CompiledStage* const* first, CompiledStage* const* second, const CompiledStage::SignalPair* input,
                         CompiledStage::SignalPair* output, uint32_t firstStage, uint32_t lastStage)
    {
        if (everyStage(firstStage, lastStage))
            pairTickOf<true>(first, second, input, output, firstStage, lastStage);
        else
            pairTickOf<false>(first, second, input, output, firstStage, lastStage);
    }

    template <std::size_t... S>
    static bool matches(std::index_sequence<S...>, CompiledStage* const* stages)
    {
        return (... && (dynamic_cast<Kinds*>(stages[S]) != nullptr));
    }
};

// The compiled kinds of the model data: the input stages and the third stage project three and
// four port voltages onto three network inputs, the second stage three onto two; the tone stage's
// files project nothing. Add a kind to compile() below for a new shape.
using InputStageKind = CompiledStageOf<Shape<InputStageBlock, 3, 3>>;
using SecondStageKind = CompiledStageOf<Shape<Velmorant_preamp_block2, 3, 2>>;
using ThirdStageKind = CompiledStageOf<Shape<Velmorant_preamp_block3, 4, 3>>;
using ToneStageKind = CompiledStageOf<Shape<Velmorant_preamp_block4, 0, 2>>;

// The chain of the model data, in its order.
using UsualChain = ChainOf<InputStageKind, SecondStageKind, ThirdStageKind, ToneStageKind>;
static_assert(UsualChain::all.size() == PreampChannel::stageCount, "a kind for every stage");

template <class Kind>
std::unique_ptr<CompiledStage> compileAs(PreampChannel& chain, uint8_t stage)
{
    using StageShape = typename Kind::StageShape;
    using Block = typename StageShape::Block;
    const SSParamsVec* block = dynamic_cast<Block*>(chain.blocks[stage]);
    if (block == nullptr || (StageShape::width == 0) == chain.projectedStage[stage] || block->N != Block::stateCount
        || block->nIn != Block::inputCount || block->nV != Block::portVoltageCount
        || block->nI != Block::portCurrentCount || block->nOut != 1)
        return nullptr;
    return std::unique_ptr<CompiledStage>(new Kind(chain, stage));
}
} // namespace

std::unique_ptr<CompiledStage> CompiledStage::compile(PreampChannel& chain, uint8_t stage)
{
    if (chain.blocks[stage] == nullptr)
        return nullptr;
    // The compiled steps scale every output of the runners' own evaluation themselves.
    for (uint32_t k = 0; k < chain.networkTotal[stage]; ++k)
    {
        const NeuralNetRunner& runner = chain.runners[stage][k];
        if ((runner.network != nullptr && !runner.evaluator) || runner.outputCount != chain.blocks[stage]->nI)
            return nullptr;
    }
    using Compile = std::unique_ptr<CompiledStage> (*)(PreampChannel&, uint8_t);
    static const Compile kinds[] = {&compileAs<InputStageKind>, &compileAs<SecondStageKind>,
                                    &compileAs<ThirdStageKind>, &compileAs<ToneStageKind>};
    for (Compile kind : kinds)
        if (std::unique_ptr<CompiledStage> compiled = kind(chain, stage))
            return compiled;
    return nullptr;
}

CompiledStage::Tick CompiledStage::tickFor(CompiledStage* const* stages)
{
    return UsualChain::matches(UsualChain::all, stages) ? &UsualChain::tick : nullptr;
}

CompiledStage::PairTick CompiledStage::pairTickFor(CompiledStage* const* stages)
{
    return UsualChain::matches(UsualChain::all, stages) ? &UsualChain::pairTick : nullptr;
}
