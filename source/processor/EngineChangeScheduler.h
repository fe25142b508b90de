#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <functional>

// Runs the processor's engine changes so that the thread that processes audio never waits for one.
//
// A change is a set of bits that merge: what is asked for while a change runs gathers into one
// pending change, applied after it against the settings of that moment, so the last values win and
// nothing queues up. The suspending bits mark work that needs processing suspended (model reloads,
// preparations); the others (pot steps) are applied between two blocks under the callback lock.
//
// A caller that may wait applies the change itself, holding the engine lock; the audio thread never
// waits: a suspending change it asks for goes to the worker thread, and when another thread holds
// the engine lock its pot steps are left to that thread, which applies whatever is pending before
// it lets go. Processing stays suspended from the request of a suspending change until nothing
// suspending is pending any more, and the suspension is set and cleared under the callback lock:
// the engine changes hands between two blocks, and the audio thread holds no lock a loader holds.
class EngineChangeScheduler : private juce::Thread
{
public:
    // Applies a change with the engine lock held; suspended tells whether processing is suspended
    // (always for a change with suspending bits).
    using Apply = std::function<void(uint32_t change, bool suspended)>;

    EngineChangeScheduler(juce::AudioProcessor& processor, uint32_t suspendingBits, Apply apply);
    // Stops the worker, as stop() does.
    ~EngineChangeScheduler() override;

    EngineChangeScheduler(const EngineChangeScheduler&) = delete;
    EngineChangeScheduler& operator=(const EngineChangeScheduler&) = delete;

    // Asks for a change. With mayWait the change has been applied when this returns, unless the
    // scheduler was stopped; without it the call only takes short locks.
    void request(uint32_t change, bool mayWait);

    // True while the change being applied has been asked for again in full, or the scheduler stops:
    // whatever it has left to do would be done again, so it may stop where it is.
    bool isSuperseded() const;

    // Abandons pending changes and waits for the worker, which abandons a change under way as soon
    // as it checks isSuperseded. Later requests are ignored.
    void stop();

private:
    void run() override;
    void post(uint32_t change);
    // Drains what is pending while the engine lock is free; whoever holds it drains after its own.
    void serviceUnlocked(bool mayLoad);
    bool hasWorkFor(bool mayLoad) const;
    // Applies pending changes until none is left that this caller may run; the engine lock is held.
    void drain(bool mayLoad);

    juce::AudioProcessor& processor;
    const uint32_t suspendingBits;
    const Apply apply;

    juce::CriticalSection engineLock;
    std::atomic<uint32_t> pending{0};
    std::atomic<uint32_t> current{0};
    std::atomic<bool> stopping{false};
    juce::WaitableEvent wakeUp;
};
