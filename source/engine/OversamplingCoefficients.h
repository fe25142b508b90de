#pragma once

#include <cstdint>

// The low-pass table shared by the interpolator and the decimator of an oversampling factor:
// 16 * factor symmetric coefficients for factors 2, 4, 8 and 16, null for any other factor.
const float* oversamplingCoefficients(uint32_t factor);
