#include "EngineChangeScheduler.h"

EngineChangeScheduler::EngineChangeScheduler(juce::AudioProcessor& owner, uint32_t suspending, Apply applyChange)
    : juce::Thread("Velmorant Preamp engine changes"), processor(owner), suspendingBits(suspending),
      apply(std::move(applyChange))
{
    startThread();
}

EngineChangeScheduler::~EngineChangeScheduler()
{
    stop();
}

void EngineChangeScheduler::stop()
{
    stopping = true;
    signalThreadShouldExit();
    wakeUp.signal();
    stopThread(-1);
}

void EngineChangeScheduler::request(uint32_t change, bool mayWait)
{
    if (change == 0 || stopping)
        return;
    const bool suspends = (change & suspendingBits) != 0;
    if (suspends && mayWait)
    {
        const juce::ScopedLock engine(engineLock);
        post(change);
        drain(true);
    }
    else
    {
        post(change);
        if (suspends)
        {
            wakeUp.signal();
            return;
        }
    }
    serviceUnlocked(mayWait);
}

bool EngineChangeScheduler::isSuperseded() const
{
    const uint32_t running = current;
    return stopping || (running != 0 && (pending & running) == running);
}

void EngineChangeScheduler::run()
{
    while (!threadShouldExit())
    {
        wakeUp.wait(-1);
        if (threadShouldExit())
            break;
        {
            const juce::ScopedLock engine(engineLock);
            drain(true);
        }
        serviceUnlocked(true);
    }
}

void EngineChangeScheduler::post(uint32_t change)
{
    if ((change & suspendingBits) == 0)
    {
        pending.fetch_or(change);
        return;
    }
    // Together with the suspension, so that the drain that resumes processing sees it.
    const juce::ScopedLock lock(processor.getCallbackLock());
    pending.fetch_or(change);
    processor.suspendProcessing(true);
}

void EngineChangeScheduler::serviceUnlocked(bool mayLoad)
{
    while (hasWorkFor(mayLoad) && engineLock.tryEnter())
    {
        drain(mayLoad);
        engineLock.exit();
    }
}

bool EngineChangeScheduler::hasWorkFor(bool mayLoad) const
{
    const uint32_t waiting = pending;
    return waiting != 0 && (mayLoad || (waiting & suspendingBits) == 0);
}

void EngineChangeScheduler::drain(bool mayLoad)
{
    while (!stopping)
    {
        uint32_t change = 0;
        bool suspended = false;
        {
            const juce::ScopedLock lock(processor.getCallbackLock());
            const uint32_t waiting = pending;
            const bool suspendingWaits = (waiting & suspendingBits) != 0;
            if (waiting != 0 && (mayLoad || !suspendingWaits))
                change = pending.exchange(0);
            suspended = processor.isSuspended();
            if (change == 0)
            {
                // Nothing suspending is pending or under way (drains take turns under the engine lock).
                if (suspended && !suspendingWaits)
                    processor.suspendProcessing(false);
                return;
            }
        }
        current = change;
        apply(change, suspended);
        current = 0;
    }
}
