#pragma once

#include <vector>

#include <gmm/gmm.h>

// A generic nodal DK discretiser (trapezoidal rule) for test use: builds the nine state-space
// matrices of a resistor-capacitor circuit with ideal voltage sources and port current sources
// from a table of parts, without knowing anything about the block being checked.
// Node 0 is ground. Resistors of 0 Ohm join their nodes.
struct CircuitTable
{
    struct Resistor { int a, b; double ohms; };
    struct Capacitor { int positive, negative; double farads; };  // one state each, in order
    struct Source { int node; int input; };                          // V(node) = u[input]
    struct Port { int plus, minus; };                                // p = V(plus) - V(minus)
    struct CurrentSource { int from, to; };                          // drawn from `from`, into `to`

    int nodeCount = 0;  // including ground
    int inputCount = 0;
    std::vector<Resistor> resistors;
    std::vector<Capacitor> capacitors;
    std::vector<Source> sources;
    std::vector<Port> ports;
    std::vector<CurrentSource> currents;
    int outputNode = 0;
};

struct DiscreteModel
{
    gmm::dense_matrix<double> A, B, C, D, E, F, G, H, K;
};

DiscreteModel discretise(const CircuitTable& circuit, double sampleRate);
