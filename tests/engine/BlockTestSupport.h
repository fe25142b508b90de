#pragma once

#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DempwolfTriode2.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block1_low.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

using Matrix = gmm::dense_matrix<double>;
using Triode0 = DempwolfTriode2<0>;
using Block1High = Velmorant_preamp_block1_high_Automation<Triode0, 0>;
using Block1Low = Velmorant_preamp_block1_low_Automation<Triode0, 0>;
using Block2 = Velmorant_preamp_block2_Automation<Triode0, 0>;
using Block3 = Velmorant_preamp_block3_Automation<Triode0, 0>;
using Block4 = Velmorant_preamp_block4_Automation<Triode0, 0>;

// The constants the processor gives each block's automation constructor.
inline std::unique_ptr<SSParamsVecAutomation> makeBlock(int which, double fs)
{
    switch (which) {
    case 0: return std::make_unique<Block1High>(fs, 3.0);
    case 1: return std::make_unique<Block1Low>(fs, 3.0);
    case 2: return std::make_unique<Block2>(fs, 336.0);
    case 3: return std::make_unique<Block3>(fs, 355.0);
    default: return std::make_unique<Block4>(fs, 355.0);
    }
}

// "[a, b; c, d]": rows separated by semicolons.
inline Matrix parseMatrix(const std::string& text)
{
    std::vector<std::vector<double>> rows(1);
    std::string body = text.substr(text.find('[') + 1);
    body = body.substr(0, body.find(']'));
    std::stringstream stream(body);
    std::string token;
    while (stream >> token) {
        const bool endsRow = token.back() == ';';
        while (!token.empty() && (token.back() == ',' || token.back() == ';'))
            token.pop_back();
        rows.back().push_back(std::strtod(token.c_str(), nullptr));
        if (endsRow)
            rows.emplace_back();
    }
    Matrix m(rows.size(), rows[0].size());
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            m(r, c) = rows[r][c];
    return m;
}

inline double largestMagnitude(const Matrix& m)
{
    double largest = 0.0;
    for (size_t r = 0; r < gmm::mat_nrows(m); ++r)
        for (size_t c = 0; c < gmm::mat_ncols(m); ++c)
            largest = std::max(largest, std::abs(m(r, c)));
    return largest;
}

// Every entry within relative tolerance of the expected one, or within absolute tolerance of it
// scaled by the matrix's largest entry (for entries that cancel to nearly zero).
inline void expectMatrixNear(const Matrix& actual, const Matrix& expected, double relative, double absolute,
                             const std::string& label)
{
    ASSERT_EQ(gmm::mat_nrows(actual), gmm::mat_nrows(expected)) << label;
    ASSERT_EQ(gmm::mat_ncols(actual), gmm::mat_ncols(expected)) << label;
    const double scale = largestMagnitude(expected);
    for (size_t r = 0; r < gmm::mat_nrows(expected); ++r)
        for (size_t c = 0; c < gmm::mat_ncols(expected); ++c)
            EXPECT_NEAR(actual(r, c), expected(r, c), relative * std::abs(expected(r, c)) + absolute * scale)
                << label << "(" << r << "," << c << ")";
}
