#pragma once

#include <functional>
#include <vector>

#include "DenseSolve.h"

class SSParamsVec;

// Where a circuit stage comes to rest with a constant input when a model gives its port currents
// from the predicted port voltages: the state x = A x + B u + C i that stays put while
// i = model(D x + E u). The chain starts its stages there, so that silence stays silent from the
// first sample; the model generator finds the same point for its rate records.
//
// At rest x = xu + Xi i and p = pu + Pi i, with xu = (I - A)^-1 B u and Xi = (I - A)^-1 C, so the
// rest is a root of r(i) = model(pu + Pi i) - i, found by Newton's method with slopes by
// differences. Each step is halved until the residual shrinks: a box edge where the model's
// currents jump can stop it short, and the closest point is kept. A network's currents are
// single-precision numbers, so the exact rest, where the chain stays still, lies on them: the
// search ends by looking for it among the single-precision currents next to Newton's point.
class StageRestPoint
{
public:
    using Vector = std::vector<double>;
    // The model's currents at port voltages p, written into i; false when it has none there.
    using CurrentModel = std::function<bool(const Vector& p, Vector& i)>;

    // The block's matrices at its current rate and step, and its input vector u.
    StageRestPoint(const SSParamsVec& block, const Vector& u);

    // False when I - A is singular (a stage without a rest).
    bool valid() const { return solvable; }

    // Moves i (nI currents, the start) to the model's rest; returns the largest entry of the
    // residual left there, in amperes (0 at an exact rest), or infinity when the model has no
    // currents at the start.
    double settle(const CurrentModel& model, Vector& i) const;

    // The state, predicted port voltages and output that go with the currents i at rest.
    void complete(const Vector& i, Vector& x, Vector& p, double& output) const;

    // The predicted port voltages at rest as pu + Pi i: Pi row after row (nV x nI).
    const Vector& restVoltages() const { return pu; }
    const Vector& restVoltagesPerCurrent() const { return Pi; }

    // Residual below which a rest counts as found: the networks' single-precision output
    // rounds near 1 nA. The search itself goes on while it can improve.
    static constexpr double tolerance = 2e-9;

private:
    template <class Residual>
    double polish(const CurrentModel& model, Residual& residual, const Vector& slopes, Vector& i, double size) const;

    const SSParamsVec& block;
    Vector u, xu, Xi, pu, Pi;
    bool solvable = false;
};
