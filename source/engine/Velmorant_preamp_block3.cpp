#include "Velmorant_preamp_block3.h"

#include "CircuitMath.h"

Velmorant_preamp_block3::Velmorant_preamp_block3(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : SSParamsVecAutomation(2, 2, 4, 4, steps, paramIndices, 1, sampleRate)
{
    setComponentValues();
    updateMatrices();
}

void Velmorant_preamp_block3::setComponentValues()
{
    R301 = 68e3;
    R302 = 2.7e3;
    C301 = 22e-9;
    R303 = 470e3;
    R304 = 100e3;
    R305 = 68e3;
    R306 = 3.3e3;
    R307 = 100e3;
    R308 = 220e3;
    R309 = 100e3;
    R310 = 1.5e3;
    C302 = 1.33e-7;
    R311 = 68e3;
    setGainPotLegs(50e3, 50e3);
}

std::unique_ptr<SSParamsVecAutomation> Velmorant_preamp_block3::clone() const
{
    return clonePlain(*this);
}

void Velmorant_preamp_block3::setGainPotLegs(double upper, double lower)
{
    RV301A = upper;
    RV301B = lower;
}

double* Velmorant_preamp_block3::automationSlot(uint32_t k)
{
    if (double* slot = constantSlot(k))
        return slot;
    switch (k) {
    case 1: return &RV301A;
    case 2: return &RV301B;
    default: return nullptr;
    }
}

void Velmorant_preamp_block3::updateMatrices()
{
    const double Rc1 = companionResistance(fs, C301);
    const double Rc2 = companionResistance(fs, C302);
    const double S1 = R307 + R303 + R304;
    const double S2 = R308 + R310 + R311;
    const double T1 = S1 + Rc1;
    const double T2 = S2 + Rc2;
    const double potTotal = RV301A + RV301B + R309;

    clearMatrices();
    A(0, 0) = (S1 - Rc1) / T1;
    A(1, 1) = (S2 - Rc2) / T2;
    B(0, 1) = -2.0 / T1;
    B(1, 1) = 2.0 / T2;
    C(0, 1) = 2.0 * R307 / T1;
    C(0, 2) = -2.0 * R304 / T1;
    C(1, 3) = -2.0 * R308 / T2;
    D(1, 0) = R307 * Rc1 / T1;
    D(2, 0) = -R304 * Rc1 / T1;
    D(3, 1) = -R308 * Rc2 / T2;
    E(0, 0) = -(RV301B + R309) / potTotal;
    E(1, 1) = -(R303 + R304 + Rc1) / T1;
    E(2, 1) = -R304 / T1;
    E(3, 1) = -(R310 + R311 + Rc2) / T2;
    // Written so that it stays finite with the upper leg at 0 Ohm.
    F(0, 0) = R301 + R302 + RV301A * (RV301B + R309) / potTotal;
    F(0, 1) = R302;
    F(1, 0) = R302;
    F(1, 1) = R302 + parallel(R307, R303 + R304 + Rc1);
    F(1, 2) = R304 * R307 / T1;
    F(2, 1) = F(1, 2);
    F(2, 2) = R305 + R306 + parallel(R304, R307 + R303 + Rc1);
    F(2, 3) = R306;
    F(3, 2) = R306;
    F(3, 3) = R306 + parallel(R308, R310 + R311 + Rc2);
    G(0, 0) = R304 * Rc1 / T1;
    H(0, 1) = R304 / T1;
    K(0, 1) = -R304 * R307 / T1;
    K(0, 2) = -(R305 + parallel(R304, R307 + R303 + Rc1));
}

// Vgk = -v[2k], Vpk = -v[2k+1] (both ports are cathode minus electrode).
void Velmorant_preamp_block3::nonlinearCurrents(const Vector& v, Vector& i)
{
    triodeCurrents(v, i, 0, -1.0, -1.0);
    triodeCurrents(v, i, 2, -1.0, -1.0);
}

void Velmorant_preamp_block3::nonlinearJacobian(const Vector& v, Matrix& J)
{
    triodeJacobian(v, J, 0, -1.0, -1.0);
    triodeJacobian(v, J, 2, -1.0, -1.0);
}

void Velmorant_preamp_block3::predictPortVoltages(const Vector& u, const Vector& x, Vector& p)
{
    p[0] = E(0, 0) * u[0];
    p[1] = D(1, 0) * x[0] + E(1, 1) * u[1];
    p[2] = D(2, 0) * x[0] + E(2, 1) * u[1];
    p[3] = D(3, 1) * x[1] + E(3, 1) * u[1];
}

void Velmorant_preamp_block3::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    nextState(*this, u.data(), i.data(), x.data(), xNew.data());
}

void Velmorant_preamp_block3::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    y[0] = outputOf(*this, u.data(), i.data(), x.data());
}
