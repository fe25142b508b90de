#pragma once

// Two resistances in parallel.
inline double parallel(double a, double b)
{
    return a * b / (a + b);
}

// The companion resistance of a capacitor under the trapezoidal rule, 1 / (2 fs C).
inline double companionResistance(double sampleRate, double capacitance)
{
    return 1.0 / (2.0 * sampleRate * capacitance);
}
