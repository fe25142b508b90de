#pragma once
// What the processor's thread tests share: the plug-in behind its adapter with a driver that checks
// where and when model files are read, a host whose answer to the process level follows the calling
// thread, audio blocks, bounded waits and a count of the heap calls a thread makes.

#include "ChainDriver.h"
#include "JuceVSTWrapper.h"
#include "VelmorantPreampAudioProcessor.h"
#include "../Watchdog.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using velmorant::test::Watchdog;

// Checks every model file read and preparation: never on the audio thread, never while processing
// runs; can make each read slow, as a slow disk does, so that a reload lasts.
class WatchingDriver : public ChainDriver
{
public:
    explicit WatchingDriver(std::chrono::milliseconds readDelay) : delay(readDelay) {}

    bool loadStage(PreampChannel& chain, int chainIndex, int stage, SSParamsVecAutomation* block,
                   const juce::String& path, bool projected) override;
    void prepare(PreampChannel& chain, int chainIndex, int baseRate, int factor) override;

    std::atomic<const juce::AudioProcessor*> processor{nullptr}; // checked once set
    std::atomic<std::thread::id> audioThread{};
    std::atomic<int> loads{0}, onAudioThread{0}, besideProcessing{0};
    std::atomic<std::thread::id> lastLoader{};

private:
    void check();

    const std::chrono::milliseconds delay;
};

// The process level the test's host answers for calls from this thread while the role lasts.
class HostThreadRole
{
public:
    explicit HostThreadRole(VstInt32 level);
    ~HostThreadRole();
    HostThreadRole(const HostThreadRole&) = delete;
    HostThreadRole& operator=(const HostThreadRole&) = delete;

private:
    const VstInt32 outer;
};

// The processor with small model data behind the adapter, opened at 48 kHz and started.
struct ThreadTestPlugin
{
    explicit ThreadTestPlugin(const juce::String& modelFolder, std::chrono::milliseconds readDelay = {});

    VstIntPtr dispatch(VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr);
    std::vector<char> chunk();
    void setChunk(std::vector<char> bytes);
    // effMainsChanged 0 and effClose, as a host stops and closes a plug-in.
    void close();

    WatchingDriver* driver = nullptr;                    // owned by the processor
    VelmorantPreampAudioProcessor* processor = nullptr; // owned by the adapter
    AEffect* effect = nullptr;
};

struct AudioBlocks
{
    static constexpr int frames = 64;
    std::vector<float> left = std::vector<float>(frames), right = std::vector<float>(frames),
                       outLeft = std::vector<float>(frames), outRight = std::vector<float>(frames);

    // One block of a sine; false when an output sample is not finite. Allocates nothing.
    bool process(AEffect* effect, int block);
};

// Polls until the condition holds or the time is up; answers the condition's last value.
bool waitUntil(std::chrono::milliseconds bound, const std::function<bool()>& condition);

// The threads of this process.
int threadCount();

// Counts the calls of operator new and delete that this thread makes while it lives.
class HeapCallCounter
{
public:
    HeapCallCounter();
    ~HeapCallCounter();
    HeapCallCounter(const HeapCallCounter&) = delete;
    HeapCallCounter& operator=(const HeapCallCounter&) = delete;
    int calls() const;
};
