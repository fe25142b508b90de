#include "ProcessorTestSupport.h"

std::string frameChunk(const std::string& text, uint32_t length)
{
    std::string chunk = "VC2!";
    for (int i = 0; i < 4; ++i)
        chunk += static_cast<char>((length >> (8 * i)) & 0xff);
    return chunk + text + '\0';
}

std::string frameChunk(const std::string& text)
{
    return frameChunk(text, static_cast<uint32_t>(text.size()));
}

std::string expectedDefaultDocument()
{
    std::string text = R"(<vrk_velmorant cprog="0" version="1"><programs>)";
    for (int k = 1; k <= 12; ++k)
        text += "<program programname=\"" + std::to_string(k)
                + R"( default" model="0" ch="0" gain="0.5" ovrsmplng="0" in="0.5" out="0.5" stro="0" trbl="0.5" mdl="1" bas="0.5" showset="0"/>)";
    return text + "</programs></vrk_velmorant>";
}

std::string bytesOf(const juce::MemoryBlock& block)
{
    return std::string(static_cast<const char*>(block.getData()), block.getSize());
}

RecordingProcessor::RecordingProcessor(const juce::String& folder, bool forwardToChains)
    : VelmorantPreampAudioProcessor(folder), forward(forwardToChains)
{
}

std::vector<std::string> RecordingProcessor::takeEvents()
{
    return std::exchange(events, {});
}

bool RecordingProcessor::loadChainStage(int chain, int stage, SSParamsVecAutomation* block, const juce::String& path,
                                        bool projected)
{
    events.push_back("load " + std::to_string(chain) + " " + std::to_string(stage) + " "
                     + juce::File(path).getFileName().toStdString() + (projected ? "" : " standard"));
    return !forward || VelmorantPreampAudioProcessor::loadChainStage(chain, stage, block, path, projected);
}

void RecordingProcessor::prepareChain(int chain, int baseRate, int factor)
{
    events.push_back("prepare " + std::to_string(chain) + " " + std::to_string(baseRate) + " " + std::to_string(factor));
    if (forward)
        VelmorantPreampAudioProcessor::prepareChain(chain, baseRate, factor);
}

void RecordingProcessor::setChainStageStep(int chain, int stage, int step)
{
    events.push_back("step " + std::to_string(chain) + " " + std::to_string(stage) + " " + std::to_string(step));
    if (forward)
        VelmorantPreampAudioProcessor::setChainStageStep(chain, stage, step);
}

ChangeCounter::ChangeCounter(VelmorantPreampAudioProcessor& processor) : source(processor)
{
    source.addChangeListener(this);
}

ChangeCounter::~ChangeCounter()
{
    source.removeChangeListener(this);
}

int ChangeCounter::take()
{
    source.dispatchPendingMessages();
    return std::exchange(count, 0);
}
