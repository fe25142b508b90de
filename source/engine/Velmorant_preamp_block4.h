#pragma once

#include <array>

#include "BlockAutomation.h"

// Tone stage: one triode driven at its grid by the previous stage, its plate load and the passive
// tone network (treble pot with its capacitor and the voice capacitor, bass pot, slope resistor).
//   u = [grid voltage, supply 355 V]; x = [C401, C402, C403, C404]
//   p = [Vk - Vg, Vk - Vp]; i = [Ig, Ipk]; y = V(treble wiper)
class Velmorant_preamp_block4 : public SSParamsVecAutomation
{
public:
    static constexpr uint32_t automationSteps = 15;  // positions per tone pot
    static constexpr uint32_t automationParamIndices = 6;
    static constexpr std::array<double, 1> supplyVoltages{355.0};

    Velmorant_preamp_block4(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component back to its value in the circuit: treble legs 110 kOhm each, bass 220 kOhm,
    // voice 4.7 MOhm.
    void setComponentValues();

    void updateMatrices() override;
    void nonlinearCurrents(const Vector& v, Vector& i) override;
    void nonlinearJacobian(const Vector& v, Matrix& J) override;
    // p[0] = -u[0] whatever E holds: the grid is driven directly.
    void predictPortVoltages(const Vector& u, const Vector& x, Vector& p) override;
    void updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew) final;
    void computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y) final;

    // The per-sample formulas of the virtual operations, for a chain's compiled step (SSParamsVec).
    static constexpr uint32_t stateCount = 4, inputCount = 2, portVoltageCount = 2, portCurrentCount = 2;
    // The entries of D (columns 0 to stateCount - 1) and E (the columns after) that the block sets;
    // every other entry stays 0.0, so a prediction may leave out its terms.
    static constexpr bool predictionEntries[portVoltageCount][stateCount + inputCount] = {
        {false, false, false, false, true, false},
        {true, true, true, true, false, true},
    };

    template <class Matrices, class Value>
    static void nextState(const Matrices& m, const Value* u, const Value* i, const Value* x, Value* xNew)
    {
        for (size_t r = 0; r < 4; ++r)
            xNew[r] = m.A(r, 0) * x[0] + m.A(r, 1) * x[1] + m.A(r, 2) * x[2] + m.A(r, 3) * x[3] + m.B(r, 1) * u[1] + m.C(r, 1) * i[1];
    }
    template <class Matrices, class Value>
    static Value outputOf(const Matrices& m, const Value* u, const Value* i, const Value* x)
    {
        return m.G(0, 0) * x[0] + m.G(0, 1) * x[1] + m.G(0, 2) * x[2] + m.G(0, 3) * x[3] + m.H(0, 1) * u[1] + m.K(0, 1) * i[1];
    }

    std::unique_ptr<SSParamsVecAutomation> clone() const override;

protected:
    // 0: supply; 1: RV401A; 2: RV401B; 3: RV402; 4: R405; 5: constructor constant.
    double* automationSlot(uint32_t k);

    double R401, R402, C401, C402, C403, R403, R404, C404;
    double RV401A, RV401B, RV402, R405;
};

// Tone controls from one step: s = (treble * 15 + bass) * 2 + voice, 450 steps. A step outside
// them selects treble 0, bass 0, voice 0.
template <class TriodeModel, int Variant>
class Velmorant_preamp_block4_Automation : public BlockAutomation<Velmorant_preamp_block4, TriodeModel>
{
public:
    Velmorant_preamp_block4_Automation(double sampleRate, double constant)
        : BlockAutomation<Velmorant_preamp_block4, TriodeModel>(sampleRate, constant)
    {
        this->stepCount = static_cast<uint32_t>(positionsPerPot * positionsPerPot * 2);
    }

    void setStep(uint32_t step) override
    {
        this->currentStep = step;
        uint32_t treble = 0, bass = 0, voice = 0;
        if (step < this->stepCount) {
            treble = step / (positionsPerPot * 2);
            bass = (step / 2) % positionsPerPot;
            voice = step % 2;
        }
        const double t = static_cast<double>(treble) * positionReciprocal * 219999.0;
        this->RV401A = 220000.0 - t;
        this->RV401B = t + 1.0;
        this->RV402 = static_cast<double>(bass) * positionReciprocal * 219999.0 + 1.0;
        this->R405 = static_cast<double>(voice) * 4699999.0 + 1.0;
        this->updateMatrices();
    }

private:
    uint32_t positionsPerPot = Velmorant_preamp_block4::automationSteps;
    double positionReciprocal = 1.0 / static_cast<double>(positionsPerPot - 1);
};
