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
    : RecordingProcessor(folder, new RecordingDriver(forwardToChains))
{
}

RecordingProcessor::RecordingProcessor(const juce::String& folder, RecordingDriver* ownedRecorder)
    : VelmorantPreampAudioProcessor(folder, std::unique_ptr<ChainDriver>(ownedRecorder)), recorder(*ownedRecorder)
{
}

std::vector<std::string> RecordingDriver::takeEvents()
{
    const std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(events, {});
}

void RecordingDriver::record(std::string line)
{
    const std::lock_guard<std::mutex> lock(mutex);
    events.push_back(std::move(line));
}

bool RecordingDriver::loadStage(PreampChannel& chain, int chainIndex, int stage, SSParamsVecAutomation* block,
                                const juce::String& path, bool projected)
{
    record("load " + std::to_string(chainIndex) + " " + std::to_string(stage) + " "
           + juce::File(path).getFileName().toStdString() + (projected ? "" : " standard"));
    return !forward || ChainDriver::loadStage(chain, chainIndex, stage, block, path, projected);
}

void RecordingDriver::prepare(PreampChannel& chain, int chainIndex, int baseRate, int factor)
{
    record("prepare " + std::to_string(chainIndex) + " " + std::to_string(baseRate) + " " + std::to_string(factor));
    if (forward)
        ChainDriver::prepare(chain, chainIndex, baseRate, factor);
}

void RecordingDriver::setStageStep(PreampChannel& chain, int chainIndex, int stage, int step)
{
    record("step " + std::to_string(chainIndex) + " " + std::to_string(stage) + " " + std::to_string(step));
    if (forward)
        ChainDriver::setStageStep(chain, chainIndex, stage, step);
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
