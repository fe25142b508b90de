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
        return applyAsCaller(change);
    post(change);
    if (suspends)
        wakeUp.signal();
    else
        applyPotStepsIfFree();
}

bool EngineChangeScheduler::isSuperseded() const
{
    if (stopping)
        return true;
    const uint32_t running = workerChange;
    return running != 0 && (waitingCallers > 0 || (pending & running) == running);
}

void EngineChangeScheduler::run()
{
    while (!threadShouldExit())
    {
        wakeUp.wait(-1);
        if (!threadShouldExit())
            applyAsWorker();
    }
}

void EngineChangeScheduler::post(uint32_t change)
{
    if ((change & suspendingBits) == 0)
    {
        pending.fetch_or(change);
        return;
    }
    // Together with the suspension, so that whoever resumes processing sees it.
    const juce::ScopedLock lock(processor.getCallbackLock());
    pending.fetch_or(change);
    processor.suspendProcessing(true);
}

void EngineChangeScheduler::applyAsCaller(uint32_t change)
{
    ++waitingCallers;
    {
        const juce::ScopedLock engine(engineLock);
        --waitingCallers;
        if (!stopping)
        {
            post(change);
            applyPendingOnce(true, false);
        }
    }
    handOver();
}

void EngineChangeScheduler::applyPotStepsIfFree()
{
    if (!engineLock.tryEnter())
        return; // the holder hands them on when it lets go
    applyPendingOnce(false, false);
    engineLock.exit();
    handOver();
}

void EngineChangeScheduler::applyAsWorker()
{
    if (waitingCallers > 0 || pending == 0 || stopping)
        return; // a waiting caller applies what is pending, and hands on the rest
    {
        const juce::ScopedLock engine(engineLock);
        if (waitingCallers == 0)
            applyPendingOnce(true, true);
    }
    handOver();
}

bool EngineChangeScheduler::applyPendingOnce(bool mayLoad, bool byWorker)
{
    if (stopping)
        return false;
    uint32_t change = 0;
    bool suspended = false;
    {
        const juce::ScopedLock lock(processor.getCallbackLock());
        const uint32_t waiting = pending;
        if (waiting == 0 || (!mayLoad && (waiting & suspendingBits) != 0))
            return false;
        change = pending.exchange(0);
        suspended = processor.isSuspended();
    }
    if (byWorker)
        workerChange = change;
    const bool done = apply(change, suspended);
    workerChange = 0;
    if (!done)
        pending.fetch_or(change); // processing stays suspended: it was, for a change that can stop early
    resumeWhenSettled();
    return true;
}

void EngineChangeScheduler::resumeWhenSettled()
{
    const juce::ScopedLock lock(processor.getCallbackLock());
    if (processor.isSuspended() && (pending & suspendingBits) == 0)
        processor.suspendProcessing(false);
}

void EngineChangeScheduler::handOver()
{
    if (pending != 0 && !stopping)
        wakeUp.signal();
}
