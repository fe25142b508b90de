#pragma once

#include <array>

#include "BlockAutomation.h"

// Second stage: series resistor and Gain pot 1 into triode 1 (supply 336 V), its plate load and
// coupling capacitor C201 to the coupling node, which carries a resistor to ground and Gain pot 2
// (over a foot resistor) feeding triode 2 (supply 355 V). One Gain step moves both pots.
//   u = [input, supply 1, supply 2]; x = [C201]
//   p = [Vg1 - Vk1, Vk1 - Vp1, Vk2 - Vg2, Vk2 - Vp2]; i = [Ig1, Ipk1, Ig2, Ipk2]; y = V(coupling node)
class Velmorant_preamp_block2 : public SSParamsVecAutomation
{
public:
    static constexpr uint32_t automationSteps = 17;
    static constexpr uint32_t automationParamIndices = 5;
    static constexpr std::array<double, 2> supplyVoltages{336.0, 355.0};

    Velmorant_preamp_block2(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component back to its value in the circuit, all four pot legs at 50 kOhm.
    void setComponentValues();

    void updateMatrices() override;
    void nonlinearCurrents(const Vector& p, Vector& i) override;
    void nonlinearJacobian(const Vector& p, Matrix& J) override;
    void predictPortVoltages(const Vector& u, const Vector& x, Vector& p) override;
    void updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew) final;
    void computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y) final;

    // The per-sample formulas of the virtual operations, for a chain's compiled step (SSParamsVec).
    static constexpr uint32_t stateCount = 1, inputCount = 3, portVoltageCount = 4, portCurrentCount = 4;
    // The entries of D (columns 0 to stateCount - 1) and E (the columns after) that the block sets;
    // every other entry stays 0.0, so a prediction may leave out its terms.
    static constexpr bool predictionEntries[portVoltageCount][stateCount + inputCount] = {
        {false, true, false, false},
        {true, false, true, false},
        {true, false, true, false},
        {false, false, false, true},
    };

    template <class Matrices, class Value>
    static void nextState(const Matrices& m, const Value* u, const Value* i, const Value* x, Value* xNew)
    {
        xNew[0] = m.A(0, 0) * x[0] + m.B(0, 1) * u[1] + m.C(0, 1) * i[1] + m.C(0, 2) * i[2];
    }
    template <class Matrices, class Value>
    static Value outputOf(const Matrices& m, const Value* u, const Value* i, const Value* x)
    {
        return m.G(0, 0) * x[0] + m.H(0, 1) * u[1] + m.K(0, 1) * i[1] + m.K(0, 2) * i[2];
    }

    std::unique_ptr<SSParamsVecAutomation> clone() const override;

protected:
    void setGainPotLegs(double upper, double lower);
    // 0: supply 1; 1: supply 2; 2: RV202A; 3: RV202B; 4: constructor constant.
    double* automationSlot(uint32_t k);

    double R201, R202, C201, R203, R204, R205, R206, R207, R208, R209, R210;
    double RV201A, RV201B, RV202A, RV202B;
};

template <class TriodeModel, int Variant>
class Velmorant_preamp_block2_Automation : public GainPotAutomation<Velmorant_preamp_block2, TriodeModel>
{
public:
    Velmorant_preamp_block2_Automation(double sampleRate, double constant)
        : GainPotAutomation<Velmorant_preamp_block2, TriodeModel>(sampleRate, constant)
    {
    }
};
