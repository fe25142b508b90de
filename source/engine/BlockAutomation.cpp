#include "BlockAutomation.h"

#include <cmath>

double gainPotLowerLeg(double position)
{
    return (std::pow(17.0, position) - std::pow(17.0, 0.0)) / (std::pow(17.0, 1.0) - std::pow(17.0, 0.0)) *
               493945.0 +
           6054.0;
}
