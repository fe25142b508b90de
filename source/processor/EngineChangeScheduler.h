#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <functional>

// Runs the processor's engine changes so that the thread that processes audio never waits for one,
// and no other thread waits for more than the change it asked for.
//
// A change is a set of bits that merge: what is asked for while a change runs gathers into one
// pending change, applied after it against the settings of that moment, so the last values win and
// nothing queues up. The suspending bits mark work that needs processing suspended (model reloads,
// preparations); the others (pot steps) are applied between two blocks under the callback lock.
//
// One change is applied at a time, under the engine lock. A caller that may wait takes the lock,
// applies everything pending at that moment (its own change included) once, and hands what arrives
// meanwhile to the worker thread: a steady stream of requests from the audio thread cannot hold it.
// The worker gives way to such a caller, abandoning a reload at its next model file (the caller
// redoes it with the latest settings). The audio thread never waits: its suspending changes go to
// the worker, and it applies its pot steps itself only when the engine lock is free, else leaves
// them to the holder, which hands them on when it lets go. Processing stays suspended from the
// request of a suspending change until nothing suspending is pending or under way any more; the
// suspension is set and cleared under the callback lock, so the engine changes hands between two
// blocks, and the audio thread holds no lock a loader holds.
class EngineChangeScheduler : private juce::Thread
{
public:
    // Applies a change with the engine lock held; suspended tells whether processing is suspended
    // (always for a change with suspending bits). Answers false when it stopped early because
    // isSuperseded said so: the change is then pending again.
    using Apply = std::function<bool(uint32_t change, bool suspended)>;

    EngineChangeScheduler(juce::AudioProcessor& processor, uint32_t suspendingBits, Apply apply);
    // Stops the worker, as stop() does.
    ~EngineChangeScheduler() override;

    EngineChangeScheduler(const EngineChangeScheduler&) = delete;
    EngineChangeScheduler& operator=(const EngineChangeScheduler&) = delete;

    // Asks for a change. With mayWait a suspending change has been applied when this returns, unless
    // the scheduler was stopped; without it, and for pot steps alone, the call only takes short locks.
    void request(uint32_t change, bool mayWait);

    // True while the worker's change should give way: it has been asked for again in full, a caller
    // waits for the engine, or the scheduler stops. A caller's own change is never superseded.
    bool isSuperseded() const;

    // Abandons pending changes and waits for the worker, which abandons a change under way as soon
    // as it checks isSuperseded. Later requests are ignored.
    void stop();

private:
    void run() override;
    void post(uint32_t change);
    void applyAsCaller(uint32_t change);
    void applyPotStepsIfFree();
    void applyAsWorker();
    // Applies what is pending once, the engine lock held; false when there was nothing this caller
    // may apply (suspending work is not taken without mayLoad).
    bool applyPendingOnce(bool mayLoad, bool byWorker);
    // Lets go of processing once nothing suspending is pending; under the callback lock.
    void resumeWhenSettled();
    // Whoever lets go of the engine lock hands on what arrived while it held it.
    void handOver();

    juce::AudioProcessor& processor;
    const uint32_t suspendingBits;
    const Apply apply;

    juce::CriticalSection engineLock;
    std::atomic<uint32_t> pending{0};
    std::atomic<uint32_t> workerChange{0}; // the change the worker applies, 0 when it applies none
    std::atomic<int> waitingCallers{0};
    std::atomic<bool> stopping{false};
    juce::WaitableEvent wakeUp;
};
