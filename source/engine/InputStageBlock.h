#pragma once

#include <array>

#include "SSParamsVecAutomation.h"

// The first stage's circuit, common to the High and Low inputs, which differ only in the input
// divider (R101 in series, R102 to ground). Triode 1 with bypassed cathode and plate load, the
// coupling capacitor C102, the series resistor and Gain pot feeding triode 2 and its plate circuit.
//   u = [input, supply 336 V]; x = [C101 (cathode), C102 (coupling)]
//   p = [Vk1 - Vg1, Vp1 - Vk1, Vk2 - Vg2, Vp2 - Vk2]; i = [Ig1, Ipk1, Ig2, Ipk2]; y = V(after C102)
class InputStageBlock : public SSParamsVecAutomation
{
public:
    static constexpr uint32_t automationSteps = 17;
    static constexpr uint32_t automationParamIndices = 4;
    static constexpr std::array<double, 1> supplyVoltages{336.0};

    void updateMatrices() override;
    void nonlinearCurrents(const Vector& p, Vector& i) override;
    void nonlinearJacobian(const Vector& p, Matrix& J) override;
    void predictPortVoltages(const Vector& u, const Vector& x, Vector& p) override;
    void updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew) final;
    void computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y) final;

    // The per-sample formulas of the virtual operations, for a chain's compiled step (SSParamsVec).
    static constexpr uint32_t stateCount = 2, inputCount = 2, portVoltageCount = 4, portCurrentCount = 4;
    // The entries of D (columns 0 to stateCount - 1) and E (the columns after) that the block sets;
    // every other entry stays 0.0, so a prediction may leave out its terms.
    static constexpr bool predictionEntries[portVoltageCount][stateCount + inputCount] = {
        {true, false, true, false},
        {true, true, false, true},
        {false, true, false, true},
        {false, false, false, true},
    };

    template <class Matrices, class Value>
    static void nextState(const Matrices& m, const Value* u, const Value* i, const Value* x, Value* xNew)
    {
        xNew[0] = m.A(0, 0) * x[0] + m.C(0, 0) * i[0] + m.C(0, 1) * i[1];
        xNew[1] = m.A(1, 1) * x[1] + m.B(1, 1) * u[1] + m.C(1, 1) * i[1] + m.C(1, 2) * i[2];
    }
    template <class Matrices, class Value>
    static Value outputOf(const Matrices& m, const Value* u, const Value* i, const Value* x)
    {
        return m.G(0, 1) * x[1] + m.H(0, 1) * u[1] + m.K(0, 1) * i[1] + m.K(0, 2) * i[2];
    }

protected:
    InputStageBlock(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component at its value in the circuit, both pot legs at 50 kOhm, with the input divider
    // of the variant.
    void setComponentValues(double seriesInput, double groundInput);
    void setGainPotLegs(double upper, double lower);
    // 0: supply; 1: RV101A; 2: RV101B; 3: constructor constant.
    double* automationSlot(uint32_t k);

    double R101, R102, R103, R104, C101, R105, C102, R106, R107, R108, R109, R110;
    double RV101A, RV101B;
};
