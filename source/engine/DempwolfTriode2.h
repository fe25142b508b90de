#pragma once

#include "Triode.h"

// Dempwolf-Zoelzer triode equations with three built-in constant sets (0, 1, 2).
// The template argument selects a model variant; only variant 0 exists.
template <int Variant>
class DempwolfTriode2 : public Triode
{
public:
    explicit DempwolfTriode2(int set = 0);

    // 0 and 1 load those sets; any other value loads set 2.
    void setTube(int set) override;

    // Ig = Gg (ln(1 + e^(Cg Vgk)) / Cg)^xi + Ig0; Ig0 where the exponential overflows. Vpk is ignored.
    double gridCurrent(double Vgk, double Vpk) const override;
    // Ik = G (ln(1 + e^(C (Vpk/mu + Vgk))) / C)^gamma; 0 where the exponential overflows.
    double cathodeCurrent(double Vgk, double Vpk) const override;

    // Central differences with a step of 0.5 mV through the (virtual) current laws.
    double gridCurrentDerivativeVgk(double Vgk, double Vpk) const override;
    double gridCurrentDerivativeVpk(double Vgk, double Vpk) const override;
    double cathodeCurrentDerivativeVgk(double Vgk, double Vpk) const override;
    double cathodeCurrentDerivativeVpk(double Vgk, double Vpk) const override;

    double G = 0.0;      // perveance of the cathode-current law
    double C = 0.0;      // smoothing constant of the cathode-current law (1/V)
    double mu = 0.0;     // amplification factor
    double invC = 0.0;   // 1/C
    double invMu = 0.0;  // 1/mu
    double gamma = 0.0;  // exponent of the cathode-current law
    double Gg = 0.0;     // perveance of the grid-current law
    double Cg = 0.0;     // smoothing constant of the grid-current law (1/V)
    double xi = 0.0;     // exponent of the grid-current law
    double Ig0 = 0.0;    // grid current offset (A)
    double invCg = 0.0;  // 1/Cg
};

extern template class DempwolfTriode2<0>;
