#include "DempwolfTriode2.h"

#include <cmath>

namespace {

struct TriodeConstants
{
    double G, mu, gamma, C, Gg, xi, Cg, Ig0;
};

constexpr TriodeConstants constantSets[] = {
    {0.002242, 103.2, 1.26, 3.4, 0.0006177, 1.314, 9.901, 8.025e-08},
    {0.002173, 100.2, 1.28, 3.19, 0.0005911, 1.358, 11.76, 4.527e-08},
    {0.001371, 86.9, 1.349, 4.56, 0.0003263, 1.156, 11.99, 3.917e-08},
};

// Half-width of the central differences and the matching factor 1/(2h).
constexpr double differenceStep = 0.0005;
constexpr double differenceFactor = 1000.0;

}  // namespace

template <int Variant>
DempwolfTriode2<Variant>::DempwolfTriode2(int set)
{
    setTube(set);
}

template <int Variant>
void DempwolfTriode2<Variant>::setTube(int set)
{
    const TriodeConstants& k = constantSets[set == 0 || set == 1 ? set : 2];
    G = k.G;
    C = k.C;
    mu = k.mu;
    gamma = k.gamma;
    Gg = k.Gg;
    Cg = k.Cg;
    xi = k.xi;
    Ig0 = k.Ig0;
    invCg = 1.0 / Cg;
    invC = 1.0 / C;
    invMu = 1.0 / mu;
}

template <int Variant>
double DempwolfTriode2<Variant>::gridCurrent(double Vgk, double /*Vpk*/) const
{
    const double t = std::exp(Vgk * Cg) + 1.0;
    if (std::isinf(t))
        return Ig0;
    return std::pow(std::log(t) * invCg, xi) * Gg + Ig0;
}

template <int Variant>
double DempwolfTriode2<Variant>::cathodeCurrent(double Vgk, double Vpk) const
{
    const double t = std::exp((Vpk * invMu + Vgk) * C) + 1.0;
    if (std::isinf(t))
        return 0.0;
    return std::pow(std::log(t) * invC, gamma) * G;
}

template <int Variant>
double DempwolfTriode2<Variant>::gridCurrentDerivativeVgk(double Vgk, double Vpk) const
{
    return (gridCurrent(Vgk + differenceStep, Vpk) - gridCurrent(Vgk - differenceStep, Vpk)) * differenceFactor;
}

template <int Variant>
double DempwolfTriode2<Variant>::gridCurrentDerivativeVpk(double /*Vgk*/, double /*Vpk*/) const
{
    return 0.0;
}

template <int Variant>
double DempwolfTriode2<Variant>::cathodeCurrentDerivativeVgk(double Vgk, double Vpk) const
{
    return (cathodeCurrent(Vgk + differenceStep, Vpk) - cathodeCurrent(Vgk - differenceStep, Vpk)) *
           differenceFactor;
}

template <int Variant>
double DempwolfTriode2<Variant>::cathodeCurrentDerivativeVpk(double Vgk, double Vpk) const
{
    return (cathodeCurrent(Vgk, Vpk + differenceStep) - cathodeCurrent(Vgk, Vpk - differenceStep)) *
           differenceFactor;
}

template class DempwolfTriode2<0>;
