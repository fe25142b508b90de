#include "Velmorant_preamp_block2.h"

#include "CircuitMath.h"

Velmorant_preamp_block2::Velmorant_preamp_block2(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : SSParamsVecAutomation(1, 3, 4, 4, steps, paramIndices, 2, sampleRate)
{
    setComponentValues();
    updateMatrices();
}

void Velmorant_preamp_block2::setComponentValues()
{
    R201 = 220e3;
    R202 = 100e3;
    C201 = 4.7e-9;
    R203 = 2.7e3;
    R204 = 68e3;
    R205 = 220e3;
    R206 = 68e3;
    R207 = 2.7e3;
    R208 = 100e3;
    R209 = 100e3;
    R210 = 4e6;
    setGainPotLegs(50e3, 50e3);
}

std::unique_ptr<SSParamsVecAutomation> Velmorant_preamp_block2::clone() const
{
    return clonePlain(*this);
}

void Velmorant_preamp_block2::setGainPotLegs(double upper, double lower)
{
    RV201A = RV202A = upper;
    RV201B = RV202B = lower;
}

double* Velmorant_preamp_block2::automationSlot(uint32_t k)
{
    if (double* slot = constantSlot(k))
        return slot;
    switch (k) {
    case 2: return &RV202A;
    case 3: return &RV202B;
    default: return nullptr;
    }
}

void Velmorant_preamp_block2::updateMatrices()
{
    const double Rc = companionResistance(fs, C201);
    const double P = RV202A + RV202B + R209;  // pot 2 with its foot resistor
    const double Zx = parallel(R205, P);       // coupling node to ground
    const double T = R202 + Rc + Zx;           // supply 1 through plate load and capacitor to ground
    const double Q = R205 * (RV202B + R209) / (R205 + P);

    clearMatrices();
    A(0, 0) = (R202 + Zx - Rc) / T;
    B(0, 1) = -2.0 / T;
    C(0, 1) = 2.0 * R202 / T;
    C(0, 2) = -2.0 * Q / T;
    D(1, 0) = R202 * Rc / T;
    D(2, 0) = -Q * Rc / T;
    E(0, 0) = RV201B / (R201 + RV201A + RV201B);
    E(1, 1) = -(Rc + Zx) / T;
    E(2, 1) = -Q / T;
    E(3, 2) = -R210 / (R208 + R210);
    F(0, 0) = -(R204 + R203 + parallel(RV201B, RV201A + R201));
    F(0, 1) = -R203;
    F(1, 0) = R203;
    F(1, 1) = R203 + parallel(R202, Rc + Zx);
    F(1, 2) = Q * R202 / T;
    F(2, 1) = F(1, 2);
    F(2, 2) = R206 + R207 + parallel(RV202B + R209, RV202A + parallel(R205, Rc + R202));
    F(2, 3) = R207;
    F(3, 2) = R207;
    F(3, 3) = R207 + parallel(R208, R210);
    G(0, 0) = Zx * Rc / T;
    H(0, 1) = Zx / T;
    K(0, 1) = -Zx * R202 / T;
    K(0, 2) = -Q * (R202 + Rc) / T;
}

// Triode 1: Vgk = p[0], Vpk = -p[1]; triode 2: Vgk = -p[2], Vpk = -p[3].
void Velmorant_preamp_block2::nonlinearCurrents(const Vector& p, Vector& i)
{
    triodeCurrents(p, i, 0, 1.0, -1.0);
    triodeCurrents(p, i, 2, -1.0, -1.0);
}

void Velmorant_preamp_block2::nonlinearJacobian(const Vector& p, Matrix& J)
{
    triodeJacobian(p, J, 0, 1.0, -1.0);
    triodeJacobian(p, J, 2, -1.0, -1.0);
}

void Velmorant_preamp_block2::predictPortVoltages(const Vector& u, const Vector& x, Vector& p)
{
    p[0] = E(0, 0) * u[0];
    p[1] = D(1, 0) * x[0] + E(1, 1) * u[1];
    p[2] = D(2, 0) * x[0] + E(2, 1) * u[1];
    p[3] = E(3, 2) * u[2];
}

void Velmorant_preamp_block2::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    nextState(*this, u.data(), i.data(), x.data(), xNew.data());
}

void Velmorant_preamp_block2::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    y[0] = outputOf(*this, u.data(), i.data(), x.data());
}
