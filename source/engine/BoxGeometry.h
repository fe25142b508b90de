#pragma once

// The geometry of the boxes that divide a step's network input space among its networks: each box
// holds its lower bounds, then its upper bounds, for `inputs` inputs. The chain builds its search
// tables (overlapping and touching boxes, each box's core) from these tests.

#include <cstdint>
#include <vector>

namespace velmorant
{
// Whether two open boxes share a point: in every input each begins before the other ends. A box
// with a NaN bound holds nothing and shares nothing.
bool boxesOverlap(const double* a, const double* b, uint32_t inputs);

// Whether two boxes share a point of their closures: in every input each begins before or where
// the other ends. A box with a NaN bound touches nothing.
bool boxesTouch(const double* a, const double* b, uint32_t inputs);

// In how many inputs two boxes share more than half of the narrower one's extent: the inputs in
// which they lie side by side. Boxes cut from one grid share all inputs but one when they share a
// face, fewer when they meet at an edge or a corner.
uint32_t inputsShared(const double* a, const double* b, uint32_t inputs);

// The part of the step's input space its boxes divide, as a box: in each input, from the lowest
// to the highest bound that is a number (the largest float and beyond stand for no bound),
// widened on each side by that width (or by 1 where it is 0), since the signals also pass
// beyond the outermost cuts. Without such a bound in an input, that input's span is empty.
std::vector<double> dividedSpan(const double* boxes, uint32_t count, uint32_t inputs);

// Shrinks the open box `core` until it shares no point with the open box `other`: in one input,
// its lower bound rises to other's upper bound or its upper bound falls to other's lower bound,
// whichever keeps the larger share of that input's width within the step's span (a box open
// to the largest float would otherwise count any finite cut as no loss).
void shedFromCore(double* core, const double* other, const double* span, uint32_t inputs);
} // namespace velmorant
