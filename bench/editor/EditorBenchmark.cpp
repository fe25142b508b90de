// What the editor costs: opening it (decoding the embedded images), one glow tick, and repainting
// the whole window when the glow frame changes.
#include "EditorBindings.h"
#include "VelmorantPreampAudioProcessor.h"
#include "VelmorantPreampEditor.h"

#include <benchmark/benchmark.h>

namespace
{
// Made and destroyed inside main, while JUCE is initialised.
std::unique_ptr<VelmorantPreampAudioProcessor> theProcessor;

VelmorantPreampAudioProcessor& processor()
{
    return *theProcessor;
}

void openEditor (benchmark::State& state)
{
    for (auto _ : state)
    {
        juce::ImageCache::releaseUnusedImages(); // a first opening decodes every image
        VelmorantPreampEditor editor (processor());
        benchmark::DoNotOptimize (&editor);
    }
}
BENCHMARK (openEditor)->Unit (benchmark::kMillisecond);

void glowArithmetic (benchmark::State& state)
{
    EditorBindings::LevelStatistics a { 1.0f / 20480.0f, 0.5f, 0.01f }, b { 1.0f / 20480.0f, 0.2f, 0.02f };
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (a);
        benchmark::DoNotOptimize (EditorBindings::glowFrame (a, b));
    }
}
BENCHMARK (glowArithmetic);

void timerTick (benchmark::State& state)
{
    VelmorantPreampEditor editor (processor());
    for (auto _ : state)
        editor.timerCallback();
}
BENCHMARK (timerTick);

void repaintWindow (benchmark::State& state)
{
    VelmorantPreampEditor editor (processor());
    processor().setParameter (10, static_cast<float> (state.range (0)));
    editor.updateFromProcessor();
    juce::Image canvas (juce::Image::RGB, editor.getWidth(), editor.getHeight(), false);
    state.SetLabel (state.range (0) != 0 ? "settings view" : "plain view");
    for (auto _ : state)
    {
        juce::Graphics g (canvas);
        editor.paintEntireComponent (g, true);
    }
}
BENCHMARK (repaintWindow)->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    theProcessor = std::make_unique<VelmorantPreampAudioProcessor> (juce::String ("/nonexistent/velmorant-models/"));
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theProcessor.reset();
    return 0;
}
