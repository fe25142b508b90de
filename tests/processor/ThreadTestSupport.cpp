#include "ThreadTestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <new>

namespace
{
thread_local VstInt32 hostLevelOfThisThread = kVstProcessLevelUnknown;
thread_local bool countingHeapCalls = false;
thread_local int heapCallsOfThisThread = 0;

VstIntPtr answerHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion)
        return 2400;
    return opcode == audioMasterGetCurrentProcessLevel ? hostLevelOfThisThread : 0;
}

void countHeapCall()
{
    if (countingHeapCalls)
        ++heapCallsOfThisThread;
}


void* acquire(std::size_t size)
{
    countHeapCall();
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void release(void* memory) noexcept
{
    if (memory != nullptr)
        countHeapCall();
    std::free(memory);
}
} // namespace

// The test program's own operator new and delete, so that a thread can count its heap calls.
void* operator new(std::size_t size)
{
    return acquire(size);
}

void* operator new[](std::size_t size)
{
    return acquire(size);
}

void operator delete(void* memory) noexcept
{
    release(memory);
}

void operator delete[](void* memory) noexcept
{
    release(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    release(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    release(memory);
}

bool WatchingDriver::loadStage(PreampChannel& chain, int chainIndex, int stage, SSParamsVecAutomation* block,
                               const juce::String& path, bool projected)
{
    check();
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    const bool loaded = ChainDriver::loadStage(chain, chainIndex, stage, block, path, projected);
    ++loads;
    return loaded;
}

void WatchingDriver::prepare(PreampChannel& chain, int chainIndex, int baseRate, int factor)
{
    check();
    ChainDriver::prepare(chain, chainIndex, baseRate, factor);
}

void WatchingDriver::check()
{
    lastLoader = std::this_thread::get_id();
    if (std::this_thread::get_id() == audioThread.load())
        ++onAudioThread;
    if (const juce::AudioProcessor* watched = processor.load())
    {
        const juce::ScopedLock lock(watched->getCallbackLock());
        if (!watched->isSuspended())
            ++besideProcessing;
    }
}

HostThreadRole::HostThreadRole(VstInt32 level) : outer(hostLevelOfThisThread)
{
    hostLevelOfThisThread = level;
}

HostThreadRole::~HostThreadRole()
{
    hostLevelOfThisThread = outer;
}

ThreadTestPlugin::ThreadTestPlugin(const juce::String& modelFolder, std::chrono::milliseconds readDelay)
{
    driver = new WatchingDriver(readDelay);
    auto owned = std::make_unique<VelmorantPreampAudioProcessor>(modelFolder, std::unique_ptr<ChainDriver>(driver));
    processor = owned.get();
    effect = (new JuceVSTWrapper(answerHost, std::move(owned)))->getAeffect();
    driver->processor = processor;
    dispatch(effOpen);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(effSetBlockSize, AudioBlocks::frames);
    dispatch(effMainsChanged, 1);
}

VstIntPtr ThreadTestPlugin::dispatch(VstInt32 opcode, VstIntPtr value, void* ptr)
{
    return effect->dispatcher(effect, opcode, 0, value, ptr, 0.0f);
}

std::vector<char> ThreadTestPlugin::chunk()
{
    void* data = nullptr;
    const auto size = static_cast<size_t>(dispatch(effGetChunk, 0, &data));
    const char* bytes = static_cast<const char*>(data);
    return std::vector<char>(bytes, bytes + size);
}

void ThreadTestPlugin::setChunk(std::vector<char> bytes)
{
    dispatch(effSetChunk, static_cast<VstIntPtr>(bytes.size()), bytes.data());
}

void ThreadTestPlugin::close()
{
    dispatch(effMainsChanged, 0);
    dispatch(effClose);
    effect = nullptr;
}

bool AudioBlocks::process(AEffect* effect, int block)
{
    for (int i = 0; i < frames; ++i)
        left[size_t(i)] = right[size_t(i)] = 0.4f * std::sin(0.05f * float(block * frames + i));
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    effect->processReplacing(effect, inputs, outputs, frames);
    for (int i = 0; i < frames; ++i)
        if (!std::isfinite(outLeft[size_t(i)]) || !std::isfinite(outRight[size_t(i)]))
            return false;
    return true;
}

bool waitUntil(std::chrono::milliseconds bound, const std::function<bool()>& condition)
{
    const auto deadline = Clock::now() + bound;
    while (!condition())
    {
        if (Clock::now() > deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int threadCount()
{
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task"))
    {
        while (const dirent* entry = ::readdir(tasks))
            count += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return count;
}

HeapCallCounter::HeapCallCounter()
{
    heapCallsOfThisThread = 0;
    countingHeapCalls = true;
}

HeapCallCounter::~HeapCallCounter()
{
    countingHeapCalls = false;
}

int HeapCallCounter::calls() const
{
    return heapCallsOfThisThread;
}
