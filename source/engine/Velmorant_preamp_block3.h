#pragma once

#include <array>

#include "BlockAutomation.h"

// Third stage: Gain pot (over a foot resistor) into triode 1, its plate load, coupling capacitor
// C301 and divider into the grid of triode 2, the tone stage's valve, whose plate carries the tone
// network reduced to one series branch (R310, C302, R311).
//   u = [input, supply 355 V]; x = [C301, C302]
//   p = [Vk1 - Vg1, Vk1 - Vp1, Vk2 - Vg2, Vk2 - Vp2]; i = [Ig1, Ipk1, Ig2, Ipk2]; y = V(grid 2)
class Velmorant_preamp_block3 : public SSParamsVecAutomation
{
public:
    static constexpr uint32_t automationSteps = 17;
    static constexpr uint32_t automationParamIndices = 4;
    static constexpr std::array<double, 1> supplyVoltages{355.0};

    Velmorant_preamp_block3(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component back to its value in the circuit, both pot legs at 50 kOhm.
    void setComponentValues();

    void updateMatrices() override;
    void nonlinearCurrents(const Vector& v, Vector& i) override;
    void nonlinearJacobian(const Vector& v, Matrix& J) override;
    void predictPortVoltages(const Vector& u, const Vector& x, Vector& p) override;
    void updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew) final;
    void computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y) final;

    // The per-sample formulas of the virtual operations, for a chain's compiled step (SSParamsVec).
    static constexpr uint32_t stateCount = 2, inputCount = 2, portVoltageCount = 4, portCurrentCount = 4;
    // The entries of D (columns 0 to stateCount - 1) and E (the columns after) that the block sets;
    // every other entry stays 0.0, so a prediction may leave out its terms.
    static constexpr bool predictionEntries[portVoltageCount][stateCount + inputCount] = {
        {false, false, true, false},
        {true, false, false, true},
        {true, false, false, true},
        {false, true, false, true},
    };

    template <class Matrices, class Value>
    static void nextState(const Matrices& m, const Value* u, const Value* i, const Value* x, Value* xNew)
    {
        xNew[0] = m.A(0, 0) * x[0] + m.B(0, 1) * u[1] + m.C(0, 1) * i[1] + m.C(0, 2) * i[2];
        xNew[1] = m.A(1, 1) * x[1] + m.B(1, 1) * u[1] + m.C(1, 3) * i[3];
    }
    template <class Matrices, class Value>
    static Value outputOf(const Matrices& m, const Value* u, const Value* i, const Value* x)
    {
        return m.G(0, 0) * x[0] + m.H(0, 1) * u[1] + m.K(0, 1) * i[1] + m.K(0, 2) * i[2];
    }

    std::unique_ptr<SSParamsVecAutomation> clone() const override;

protected:
    void setGainPotLegs(double upper, double lower);
    // 0: supply; 1: RV301A; 2: RV301B; 3: constructor constant.
    double* automationSlot(uint32_t k);

    double R301, R302, C301, R303, R304, R305, R306, R307, R308, R309, R310, C302, R311;
    double RV301A, RV301B;
};

template <class TriodeModel, int Variant>
class Velmorant_preamp_block3_Automation : public GainPotAutomation<Velmorant_preamp_block3, TriodeModel>
{
public:
    Velmorant_preamp_block3_Automation(double sampleRate, double constant)
        : GainPotAutomation<Velmorant_preamp_block3, TriodeModel>(sampleRate, constant)
    {
    }
};
