#include "InputStageBlock.h"

#include "CircuitMath.h"

InputStageBlock::InputStageBlock(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : SSParamsVecAutomation(2, 2, 4, 4, steps, paramIndices, 1, sampleRate)
{
}

void InputStageBlock::setComponentValues(double seriesInput, double groundInput)
{
    R101 = seriesInput;
    R102 = groundInput;
    R103 = 68e3;
    R104 = 1.5e3;
    C101 = 2.2e-6;
    R105 = 100e3;
    C102 = 33e-9;
    R106 = 220e3;
    R107 = 68e3;
    R108 = 2.7e3;
    R109 = 100e3;
    R110 = 4e6;
    setGainPotLegs(50e3, 50e3);
}

void InputStageBlock::setGainPotLegs(double upper, double lower)
{
    RV101A = upper;
    RV101B = lower;
}

double* InputStageBlock::automationSlot(uint32_t k)
{
    if (double* slot = constantSlot(k))
        return slot;
    switch (k) {
    case 1: return &RV101A;
    case 2: return &RV101B;
    default: return nullptr;
    }
}

void InputStageBlock::updateMatrices()
{
    const double Rc1 = companionResistance(fs, C101);
    const double Rc2 = companionResistance(fs, C102);
    const double divider = R106 + RV101A + RV101B;  // coupling node to ground through the pot
    const double S = R105 + Rc2 + divider;
    const double Rk = parallel(R104, Rc1);

    clearMatrices();
    A(0, 0) = (R104 - Rc1) / (R104 + Rc1);
    A(1, 1) = (R105 + divider - Rc2) / S;
    B(1, 1) = -2.0 / S;
    C(0, 0) = 2.0 * R104 / (R104 + Rc1);
    C(0, 1) = C(0, 0);
    C(1, 1) = 2.0 * R105 / S;
    C(1, 2) = -2.0 * RV101B / S;
    D(0, 0) = Rk;
    D(1, 0) = -Rk;
    D(1, 1) = -R105 * Rc2 / S;
    D(2, 1) = -RV101B * Rc2 / S;
    E(0, 0) = -R102 / (R101 + R102);
    E(1, 1) = (Rc2 + divider) / S;
    E(2, 1) = -RV101B / S;
    E(3, 1) = R110 / (R109 + R110);
    F(0, 0) = R103 + parallel(R101, R102) + Rk;
    F(0, 1) = Rk;
    F(1, 0) = -Rk;
    F(1, 1) = -(Rk + R105 * (Rc2 + divider) / S);
    F(1, 2) = -R105 * RV101B / S;
    F(2, 1) = R105 * RV101B / S;
    F(2, 2) = R107 + R108 + RV101B * (R105 + Rc2 + R106 + RV101A) / S;
    F(2, 3) = R108;
    F(3, 2) = -R108;
    F(3, 3) = -(R108 + parallel(R109, R110));
    G(0, 1) = divider * Rc2 / S;
    H(0, 1) = divider / S;
    K(0, 1) = -divider * R105 / S;
    K(0, 2) = -RV101B * (Rc2 + R105) / S;
}

// Vgk = -p[2k] (cathode minus grid), Vpk = p[2k+1] (plate minus cathode).
void InputStageBlock::nonlinearCurrents(const Vector& p, Vector& i)
{
    triodeCurrents(p, i, 0, -1.0, 1.0);
    triodeCurrents(p, i, 2, -1.0, 1.0);
}

void InputStageBlock::nonlinearJacobian(const Vector& p, Matrix& J)
{
    triodeJacobian(p, J, 0, -1.0, 1.0);
    triodeJacobian(p, J, 2, -1.0, 1.0);
}

void InputStageBlock::predictPortVoltages(const Vector& u, const Vector& x, Vector& p)
{
    p[0] = E(0, 0) * u[0] + D(0, 0) * x[0];
    p[1] = D(1, 0) * x[0] + D(1, 1) * x[1] + E(1, 1) * u[1];
    p[2] = D(2, 1) * x[1] + E(2, 1) * u[1];
    p[3] = E(3, 1) * u[1];
}

void InputStageBlock::updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew)
{
    nextState(*this, u.data(), i.data(), x.data(), xNew.data());
}

void InputStageBlock::computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y)
{
    y[0] = outputOf(*this, u.data(), i.data(), x.data());
}
