// Linked into the reference plug-in only: from its loading on, its runners evaluate their
// networks with fann_run instead of their compact copies.
#include "NeuralNetRunner.h"

namespace
{
struct SelectFannRun
{
    SelectFannRun() { NeuralNetRunner::setEvaluation(NeuralNetRunner::Evaluation::fannRun); }
} selectFannRun;
} // namespace
