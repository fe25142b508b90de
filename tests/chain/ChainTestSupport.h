#pragma once

// Hand-made circuit blocks and model files for the chain tests, and a straightforward
// reference computation of the chain's equations to compare the chain against.
#include "ChainModelFiles.h"
#include "SSParamsVecAutomation.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A circuit block whose matrices are given by the test: each matrix is its template, with
// A scaled by 44100 / fs and B by (1 + step / 10), so that rate and step both show.
class TestBlock : public SSParamsVecAutomation
{
public:
    TestBlock(uint32_t states, uint32_t inputs, uint32_t portVoltages, uint32_t portCurrents, uint32_t steps,
              double constant);

    void updateMatrices() override;
    void nonlinearCurrents(const Vector&, Vector&) override {}
    void nonlinearJacobian(const Vector&, Matrix&) override {}
    // The full products: the test matrices have no structure to exploit.
    void updateState(const Vector& u, const Vector& i, const Vector& x, Vector& xNew) override;
    void computeOutput(const Vector& u, const Vector& x, const Vector& i, Vector& y) override;
    void setStep(uint32_t step) override;
    double getParam(uint32_t k) override;
    std::unique_ptr<SSParamsVecAutomation> clone() const override { return nullptr; }

    // Fills every template with small pseudo-random values (stable state update).
    void randomise(uint32_t seed);

    std::array<Matrix, 9> templates; // A, B, C, D, E, F, G, H, K
    double constantInput;
    uint64_t stateUpdates = 0;
};

// A unique path in the test's temporary folder.
std::string temporaryPath(const std::string& name);

// The chain's equations computed plainly, in double precision, from the same blocks and
// stage descriptions. It starts from given states and currents.
class ReferenceChain
{
public:
    ReferenceChain(std::array<TestBlock*, 4> blocks, std::array<StageSpec, 4> specs);

    void setStep(uint32_t stage, uint32_t step);
    // Runs one sample (already times the input gain) through the four stages; returns the output.
    double run(double input);

    std::array<std::vector<double>, 4> x, i, u;
    std::array<int, 4> lastMatch{};
    std::array<uint32_t, 4> step{};
    double levelCurrent() const { return i[3][1]; }

private:
    std::vector<double> networkInput(uint32_t stage, const std::vector<double>& p) const;
    void evaluate(const NetSpec& net, uint32_t stage, const std::vector<double>& in);

    std::array<TestBlock*, 4> blocks;
    std::array<StageSpec, 4> specs;
};
