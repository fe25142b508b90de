#pragma once

#include <gmm/gmm.h>

#include <cstdint>

// A column-major copy of a matrix of fixed shape for the compiled stage steps, read as m(r, c)
// like gmm's; for values in pairs (two chains' values, one per lane) each entry fills both lanes,
// so that the products take it as it is.
//
// Why a header of its own: the circuit blocks' per-sample formulas (templates of their headers)
// read their matrices through it, and they are compiled for the x86-64 baseline in every unit,
// the AVX unit included. A function compiled for the baseline cannot take in one compiled for
// AVX, so the accessor must be a header's too, or the formulas would call it for every entry.
template <uint32_t Rows, uint32_t Columns, class T>
struct FixedMatrix
{
    T operator()(uint32_t r, uint32_t c) const { return entries[c * Rows + r]; }

    void copy(const gmm::dense_matrix<double>& source)
    {
        const double* data = source.data();
        for (uint32_t k = 0; k < Rows * Columns; ++k)
            entries[k] = T{} + data[k];
    }

    T entries[Rows * Columns];
};
