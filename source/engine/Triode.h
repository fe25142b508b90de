#pragma once

// A triode valve seen from its two ports: grid current and cathode current as functions of the
// grid-cathode voltage Vgk and the plate-cathode voltage Vpk (volts in, amperes out), with their
// partial derivatives.
class Triode
{
public:
    virtual ~Triode() = default;

    // Chooses one of the model's built-in constant sets.
    virtual void setTube(int set) = 0;

    virtual double gridCurrent(double Vgk, double Vpk) const = 0;
    virtual double cathodeCurrent(double Vgk, double Vpk) const = 0;
    virtual double gridCurrentDerivativeVgk(double Vgk, double Vpk) const = 0;
    virtual double gridCurrentDerivativeVpk(double Vgk, double Vpk) const = 0;
    virtual double cathodeCurrentDerivativeVgk(double Vgk, double Vpk) const = 0;
    virtual double cathodeCurrentDerivativeVpk(double Vgk, double Vpk) const = 0;
};
