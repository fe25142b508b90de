#include "CircuitTables.h"

CircuitTable inputStageCircuit(bool highInput, double potUpper, double potLower)
{
    enum { gnd, in, sup, div, g1, k1, p1, out, potTop, wiper, g2, k2, p2, count };
    CircuitTable c;
    c.nodeCount = count;
    c.inputCount = 2;
    c.sources = {{in, 0}, {sup, 1}};
    c.resistors = {{in, div, highInput ? 34e3 : 68e3}, {div, gnd, highInput ? 1e6 : 68e3},
                   {div, g1, 68e3},   {k1, gnd, 1.5e3},      {sup, p1, 100e3},
                   {out, potTop, 220e3}, {potTop, wiper, potUpper}, {wiper, gnd, potLower},
                   {wiper, g2, 68e3}, {k2, gnd, 2.7e3},      {sup, p2, 100e3},
                   {p2, gnd, 4e6}};
    c.capacitors = {{k1, gnd, 2.2e-6}, {out, p1, 33e-9}};
    c.ports = {{k1, g1}, {p1, k1}, {k2, g2}, {p2, k2}};
    c.currents = {{g1, k1}, {p1, k1}, {g2, k2}, {p2, k2}};
    c.outputNode = out;
    return c;
}

CircuitTable secondStageCircuit(double potUpper, double potLower)
{
    enum { gnd, in, sup1, sup2, top1, wiper1, g1, k1, p1, coupling, wiper2, foot2, g2, k2, p2, count };
    CircuitTable c;
    c.nodeCount = count;
    c.inputCount = 3;
    c.sources = {{in, 0}, {sup1, 1}, {sup2, 2}};
    c.resistors = {{in, top1, 220e3},        {top1, wiper1, potUpper},   {wiper1, gnd, potLower},
                   {wiper1, g1, 68e3},       {k1, gnd, 2.7e3},           {sup1, p1, 100e3},
                   {coupling, gnd, 220e3},   {coupling, wiper2, potUpper}, {wiper2, foot2, potLower},
                   {foot2, gnd, 100e3},      {wiper2, g2, 68e3},         {k2, gnd, 2.7e3},
                   {sup2, p2, 100e3},        {p2, gnd, 4e6}};
    c.capacitors = {{coupling, p1, 4.7e-9}};
    c.ports = {{g1, k1}, {k1, p1}, {k2, g2}, {k2, p2}};
    c.currents = {{g1, k1}, {p1, k1}, {g2, k2}, {p2, k2}};
    c.outputNode = coupling;
    return c;
}

CircuitTable thirdStageCircuit(double potUpper, double potLower)
{
    enum { gnd, in, sup, wiper, foot, g1, k1, p1, coupling, div, g2, k2, p2, tap, branchFoot, count };
    CircuitTable c;
    c.nodeCount = count;
    c.inputCount = 2;
    c.sources = {{in, 0}, {sup, 1}};
    c.resistors = {{in, wiper, potUpper}, {wiper, foot, potLower}, {foot, gnd, 100e3},
                   {wiper, g1, 68e3},     {k1, gnd, 2.7e3},        {sup, p1, 100e3},
                   {coupling, div, 470e3}, {div, gnd, 100e3},      {div, g2, 68e3},
                   {k2, gnd, 3.3e3},      {sup, p2, 220e3},        {p2, tap, 1.5e3},
                   {branchFoot, gnd, 68e3}};
    c.capacitors = {{coupling, p1, 22e-9}, {tap, branchFoot, 1.33e-7}};
    c.ports = {{k1, g1}, {k1, p1}, {k2, g2}, {k2, p2}};
    c.currents = {{g1, k1}, {p1, k1}, {g2, k2}, {p2, k2}};
    c.outputNode = g2;
    return c;
}

CircuitTable toneStageCircuit(double trebleUpper, double trebleLower, double bass, double voice)
{
    enum { gnd, grid, sup, k, p, top, voiceNode, wiper, foot, slope, bassFoot, count };
    CircuitTable c;
    c.nodeCount = count;
    c.inputCount = 2;
    c.sources = {{grid, 0}, {sup, 1}};
    c.resistors = {{k, gnd, 3.3e3},          {sup, p, 220e3},         {voiceNode, top, voice},
                   {top, wiper, trebleUpper}, {wiper, foot, trebleLower}, {p, slope, 68e3},
                   {foot, bassFoot, bass},   {bassFoot, gnd, 1.5e3}};
    c.capacitors = {{top, p, 220e-12}, {foot, slope, 100e-9}, {bassFoot, slope, 33e-9}, {voiceNode, p, 470e-12}};
    c.ports = {{k, grid}, {k, p}};
    c.currents = {{grid, k}, {p, k}};
    c.outputNode = wiper;
    return c;
}
