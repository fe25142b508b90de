#pragma once

#include <cstdint>
#include <memory>

#include "SSParamsVec.h"
#include "Triode.h"

// A circuit stage that can be controlled and wired into the chain: pot steps, indexed access to
// its constant inputs and control-moved components, its triode model, and cloning.
//
// Automation indices of getParam/setParam:
//   0 .. constantInputCount-1      the constant inputs, u[firstConstantInput + k]
//   following indices              the components that setStep moves, in the block's order
//   paramIndexCount - 1            the constant given to the automation constructor
//   anything else                  getParam 0.0, setParam nothing
// A plain block (as made by clone) cannot be stepped: setStep does nothing and getParam gives 0.0.
class SSParamsVecAutomation : public SSParamsVec
{
public:
    // A sample rate that is not a positive finite number is taken as 44100 Hz.
    SSParamsVecAutomation(uint32_t stateCount, uint32_t inputCount, uint32_t portVoltageCount,
                          uint32_t portCurrentCount, uint32_t steps, uint32_t paramIndices,
                          uint32_t constantInputs, double sampleRate);

    // A rate that is not a positive finite number is ignored: the block keeps its previous rate
    // and matrices (every capacitor's companion term divides by the rate).
    void setSampleRate(double sampleRate) override;

    // Records the step, sets the control-moved components from it, recomputes the matrices.
    virtual void setStep(uint32_t step);
    virtual double getParam(uint32_t k);
    // Sets the value at index k without recomputing the matrices.
    virtual void setParam(uint32_t k, const double& value);
    // A new plain block of the same class with this block's matrices, constants and (shared)
    // triode model; its components keep their defaults. Null here: each block makes its own.
    virtual std::unique_ptr<SSParamsVecAutomation> clone() const;

    double sampleRate() const { return fs; }

    uint32_t stepCount;           // steps that setStep accepts
    uint32_t paramIndexCount;     // indices of getParam/setParam
    uint32_t currentStep = 0;     // last step given to setStep
    uint32_t firstConstantInput;  // index in u of the first constant input (1 in every block)
    uint32_t constantInputCount;  // entries of u from firstConstantInput on that hold constants

    // Shared with clones, so a clone stays valid even after its source is gone.
    std::shared_ptr<Triode> triode;

protected:
    static bool isUsableSampleRate(double sampleRate);

    // A new plain Block built with the source's rate and counts, then given the source's model.
    template <class Block>
    static std::unique_ptr<SSParamsVecAutomation> clonePlain(const Block& source)
    {
        auto copy = std::make_unique<Block>(source.fs, source.stepCount, source.paramIndexCount);
        copy->copyModelFrom(source);
        return copy;
    }

    // Copies what a clone takes over from its source: matrices, constants, indices, triode model.
    void copyModelFrom(const SSParamsVecAutomation& source);

    // The constant-vector element of automation index k (a constant input or the constructor's
    // constant), or null for any other index.
    double* constantSlot(uint32_t k);

    // One triode's currents and their derivatives in a block's port order: the triode's ports are
    // p[first] (grid side) and p[first + 1] (plate side), with Vgk = gridSign * p[first] and
    // Vpk = plateSign * p[first + 1]; its currents are i[first] (grid) and i[first + 1] (plate).
    // Without a triode model the currents are 0 and the Jacobian is left as it is.
    void triodeCurrents(const Vector& p, Vector& i, uint32_t first, double gridSign, double plateSign) const;
    void triodeJacobian(const Vector& p, Matrix& J, uint32_t first, double gridSign, double plateSign) const;

    // Sets every entry of the nine matrices to 0.0.
    void clearMatrices();

    // Element 0: the automation constructor's constant; from firstConstantInput on: the constant inputs.
    Vector constants;

    double fs = 44100.0;
};
