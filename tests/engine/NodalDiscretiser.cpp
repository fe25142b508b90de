#include "NodalDiscretiser.h"

#include <numeric>

namespace {

// Union-find over nodes, so that 0-Ohm resistors join their two nodes into one.
struct NodeGroups
{
    std::vector<int> parent;
    explicit NodeGroups(int n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int n) { return parent[n] == n ? n : parent[n] = find(parent[n]); }
    void join(int a, int b)
    {
        a = find(a);
        b = find(b);
        if (a == b)
            return;
        // Keep ground (0) as its group's representative.
        if (b == 0)
            std::swap(a, b);
        parent[b] = a;
    }
};

}  // namespace

DiscreteModel discretise(const CircuitTable& circuit, double sampleRate)
{
    const int states = static_cast<int>(circuit.capacitors.size());
    const int ports = static_cast<int>(circuit.ports.size());
    const int currents = static_cast<int>(circuit.currents.size());
    const int inputs = circuit.inputCount;
    // Columns of the linear dependence of every node voltage: states, inputs, currents.
    const int columns = states + inputs + currents;

    NodeGroups groups(circuit.nodeCount);
    for (const auto& r : circuit.resistors)
        if (r.ohms == 0.0)
            groups.join(r.a, r.b);

    // Known node groups: ground and sources. Unknown: the rest, numbered 0..n-1.
    std::vector<int> sourceInput(circuit.nodeCount, -1);
    for (const auto& s : circuit.sources)
        sourceInput[groups.find(s.node)] = s.input;
    std::vector<int> unknownIndex(circuit.nodeCount, -1);
    int unknowns = 0;
    for (int n = 1; n < circuit.nodeCount; ++n)
        if (groups.find(n) == n && sourceInput[n] < 0)
            unknownIndex[n] = unknowns++;

    gmm::dense_matrix<double> Y(unknowns, unknowns);
    gmm::dense_matrix<double> rhs(unknowns, columns);

    auto stamp = [&](int a, int b, double g) {
        a = groups.find(a);
        b = groups.find(b);
        const int ia = unknownIndex[a];
        const int ib = unknownIndex[b];
        if (ia >= 0)
            Y(ia, ia) += g;
        if (ib >= 0)
            Y(ib, ib) += g;
        if (ia >= 0 && ib >= 0) {
            Y(ia, ib) -= g;
            Y(ib, ia) -= g;
        }
        // A conductance to a source node feeds the unknown node from that input.
        if (ia >= 0 && sourceInput[b] >= 0)
            rhs(ia, states + sourceInput[b]) += g;
        if (ib >= 0 && sourceInput[a] >= 0)
            rhs(ib, states + sourceInput[a]) += g;
    };
    auto inject = [&](int node, int column, double amount) {
        const int i = unknownIndex[groups.find(node)];
        if (i >= 0)
            rhs(i, column) += amount;
    };

    for (const auto& r : circuit.resistors)
        if (r.ohms != 0.0)
            stamp(r.a, r.b, 1.0 / r.ohms);
    std::vector<double> companion(states);
    for (int c = 0; c < states; ++c) {
        const auto& cap = circuit.capacitors[c];
        companion[c] = 2.0 * cap.farads * sampleRate;
        stamp(cap.positive, cap.negative, companion[c]);
        inject(cap.positive, c, 1.0);
        inject(cap.negative, c, -1.0);
    }
    for (int j = 0; j < currents; ++j) {
        inject(circuit.currents[j].from, states + inputs + j, -1.0);
        inject(circuit.currents[j].to, states + inputs + j, 1.0);
    }

    // Node voltages per column: solve Y V = rhs column by column.
    gmm::dense_matrix<double> V(unknowns, columns);
    for (int col = 0; col < columns; ++col) {
        std::vector<double> b(unknowns), v(unknowns);
        for (int i = 0; i < unknowns; ++i)
            b[i] = rhs(i, col);
        gmm::dense_matrix<double> Ycopy(Y);
        gmm::lu_solve(Ycopy, v, b);
        for (int i = 0; i < unknowns; ++i)
            V(i, col) = v[i];
    }
    auto voltage = [&](int node, int column) {
        const int n = groups.find(node);
        if (n == 0)
            return 0.0;
        if (sourceInput[n] >= 0)
            return column == states + sourceInput[n] ? 1.0 : 0.0;
        return V(unknownIndex[n], column);
    };

    DiscreteModel m{gmm::dense_matrix<double>(states, states), gmm::dense_matrix<double>(states, inputs),
                    gmm::dense_matrix<double>(states, currents), gmm::dense_matrix<double>(ports, states),
                    gmm::dense_matrix<double>(ports, inputs), gmm::dense_matrix<double>(ports, currents),
                    gmm::dense_matrix<double>(1, states), gmm::dense_matrix<double>(1, inputs),
                    gmm::dense_matrix<double>(1, currents)};
    auto split = [&](int column, double value, gmm::dense_matrix<double>& fromState,
                     gmm::dense_matrix<double>& fromInput, gmm::dense_matrix<double>& fromCurrent, int row) {
        if (column < states)
            fromState(row, column) = value;
        else if (column < states + inputs)
            fromInput(row, column - states) = value;
        else
            fromCurrent(row, column - states - inputs) = value;
    };
    for (int col = 0; col < columns; ++col) {
        for (int p = 0; p < ports; ++p) {
            const auto& port = circuit.ports[p];
            split(col, voltage(port.plus, col) - voltage(port.minus, col), m.D, m.E, m.F, p);
        }
        split(col, voltage(circuit.outputNode, col), m.G, m.H, m.K, 0);
        for (int c = 0; c < states; ++c) {
            const auto& cap = circuit.capacitors[c];
            const double across = voltage(cap.positive, col) - voltage(cap.negative, col);
            split(col, 2.0 * companion[c] * across - (col == c ? 1.0 : 0.0), m.A, m.B, m.C, c);
        }
    }
    return m;
}
