#include "Velmorant_preamp_block4.h"

#include <array>

#include "CircuitMath.h"

namespace {

// The tone network's free nodes; the grid, the supply and ground are sources, the cathode voltage
// is R401 times the two port currents, and the treble wiper is a plain divider of top and foot.
enum Node { plate, trebleTop, voiceNode, trebleFoot, slopeNode, bassFoot, nodeCount };

// Right-hand sides of the nodal system: the four capacitor states, the supply and the plate current.
enum Source { stateC401, stateC402, stateC403, stateC404, supply, plateCurrent, sourceCount };

using NodalMatrix = std::array<std::array<double, nodeCount>, nodeCount>;
using NodalSolution = std::array<std::array<double, sourceCount>, nodeCount>;  // dV(node)/d(source)

void addConductance(NodalMatrix& Y, int a, int b, double g)
{
    Y[a][a] += g;
    Y[b][b] += g;
    Y[a][b] -= g;
    Y[b][a] -= g;
}

// Solves Y V = rhs for every source column by Gaussian elimination. Y is symmetric positive
// definite (every node reaches ground or a source through a resistor), so no pivoting is needed.
void solveInPlace(NodalMatrix& Y, NodalSolution& rhs)
{
    for (int col = 0; col < nodeCount; ++col) {
        for (int row = col + 1; row < nodeCount; ++row) {
            const double factor = Y[row][col] / Y[col][col];
            if (factor == 0.0)
                continue;
            for (int k = col; k < nodeCount; ++k)
                Y[row][k] -= factor * Y[col][k];
            for (int s = 0; s < sourceCount; ++s)
                rhs[row][s] -= factor * rhs[col][s];
        }
    }
    for (int row = nodeCount - 1; row >= 0; --row) {
        for (int s = 0; s < sourceCount; ++s) {
            double sum = rhs[row][s];
            for (int k = row + 1; k < nodeCount; ++k)
                sum -= Y[row][k] * rhs[k][s];
            rhs[row][s] = sum / Y[row][row];
        }
    }
}

// A capacitor's state index with its (+) and (-) nodes.
struct Capacitor
{
    Source state;
    Node positive;
    Node negative;
};

constexpr std::array<Capacitor, 4> capacitors{{
    {stateC401, trebleTop, plate},
    {stateC402, trebleFoot, slopeNode},
    {stateC403, bassFoot, slopeNode},
    {stateC404, voiceNode, plate},
}};

}  // namespace

Velmorant_preamp_block4::Velmorant_preamp_block4(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : SSParamsVecAutomation(4, 2, 2, 2, steps, paramIndices, 1, sampleRate)
{
    setComponentValues();
    updateMatrices();
}

void Velmorant_preamp_block4::setComponentValues()
{
    R401 = 3.3e3;
    R402 = 220e3;
    C401 = 220e-12;
    C402 = 100e-9;
    C403 = 33e-9;
    R403 = 68e3;
    R404 = 1.5e3;
    C404 = 470e-12;
    RV401A = 110e3;
    RV401B = 110e3;
    RV402 = 220e3;
    R405 = 4.7e6;
}

std::unique_ptr<SSParamsVecAutomation> Velmorant_preamp_block4::clone() const
{
    return clonePlain(*this);
}

double* Velmorant_preamp_block4::automationSlot(uint32_t k)
{
    if (double* slot = constantSlot(k))
        return slot;
    switch (k) {
    case 1: return &RV401A;
    case 2: return &RV401B;
    case 3: return &RV402;
    case 4: return &R405;
    default: return nullptr;
    }
}

void Velmorant_preamp_block4::updateMatrices()
{
    const std::array<double, 4> Gc{2.0 * fs * C401, 2.0 * fs * C402, 2.0 * fs * C403, 2.0 * fs * C404};

    NodalMatrix Y{};
    addConductance(Y, trebleTop, plate, Gc[0]);
    addConductance(Y, trebleFoot, slopeNode, Gc[1]);
    addConductance(Y, bassFoot, slopeNode, Gc[2]);
    addConductance(Y, voiceNode, plate, Gc[3]);
    addConductance(Y, voiceNode, trebleTop, 1.0 / R405);
    addConductance(Y, trebleTop, trebleFoot, 1.0 / (RV401A + RV401B));
    addConductance(Y, plate, slopeNode, 1.0 / R403);
    addConductance(Y, trebleFoot, bassFoot, 1.0 / RV402);
    Y[plate][plate] += 1.0 / R402;      // to the supply
    Y[bassFoot][bassFoot] += 1.0 / R404;  // to ground

    // Each state drives current into its capacitor's (+) node and out of its (-) node; the supply
    // feeds the plate through R402; the plate current is drawn from the plate.
    NodalSolution V{};
    for (const Capacitor& c : capacitors) {
        V[c.positive][c.state] += 1.0;
        V[c.negative][c.state] -= 1.0;
    }
    V[plate][supply] = 1.0 / R402;
    V[plate][plateCurrent] = -1.0;
    solveInPlace(Y, V);

    clearMatrices();
    for (size_t r = 0; r < capacitors.size(); ++r) {
        const Capacitor& c = capacitors[r];
        const double gain = 2.0 * Gc[r];
        for (size_t s = 0; s < capacitors.size(); ++s)
            A(r, s) = gain * (V[c.positive][s] - V[c.negative][s]) - (r == s ? 1.0 : 0.0);
        B(r, 1) = gain * (V[c.positive][supply] - V[c.negative][supply]);
        C(r, 1) = gain * (V[c.positive][plateCurrent] - V[c.negative][plateCurrent]);
    }

    // v0 = Vk - Vg with Vk = R401 (i0 + i1); v1 = Vk - Vp.
    E(0, 0) = -1.0;
    F(0, 0) = R401;
    F(0, 1) = R401;
    F(1, 0) = R401;
    for (size_t s = 0; s < capacitors.size(); ++s)
        D(1, s) = -V[plate][s];
    E(1, 1) = -V[plate][supply];
    F(1, 1) = R401 - V[plate][plateCurrent];

    const double topShare = RV401B / (RV401A + RV401B);
    const double footShare = RV401A / (RV401A + RV401B);
    auto wiper = [&](int source) { return topShare * V[trebleTop][source] + footShare * V[trebleFoot][source]; };
    for (size_t s = 0; s < capacitors.size(); ++s)
        G(0, s) = wiper(static_cast<int>(s));
    H(0, 1) = wiper(supply);
    K(0, 1) = wiper(plateCurrent);
}

// Vgk = -v[0], Vpk = -v[1].
void Velmorant_preamp_block4::nonlinearCurrents(const Vector& v, Vector& i)
{
    triodeCurrents(v, i, 0, -1.0, -1.0);
}

void Velmorant_preamp_block4::nonlinearJacobian(const Vector& v, Matrix& J)
{
    triodeJacobian(v, J, 0, -1.0, -1.0);
}

void Velmorant_preamp_block4::predictPortVoltages(const Vector& u, const Vector& x, Vector& p)
{
    p[0] = -u[0];
    p[1] = D(1, 0) * x[0] + D(1, 1) * x[1] + D(1, 2) * x[2] + D(1, 3) * x[3] + E(1, 1) * u[1];
}

void Velmorant_preamp_block4::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    nextState(*this, u.data(), i.data(), x.data(), xNew.data());
}

void Velmorant_preamp_block4::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    y[0] = outputOf(*this, u.data(), i.data(), x.data());
}
