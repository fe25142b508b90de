#pragma once
// Which threads process audio. The processor asks before it does work that a processing thread must
// not wait for (reading model files, building networks), and hands that work to a thread of its own
// instead.
//
// The host knows its threads: the adapter opens a HostCall around each host call that can change the
// engine, and the first question within it asks the host where the call comes from. Where the host
// gives no answer, a thread that has made a processing call counts as a processing thread from then
// on, since hosts deliver automation on it between its processing calls.

namespace velmorant::platform
{
// Where the host says a call comes from.
enum class HostThread
{
    unknown, // the host does not say
    audio,   // its real-time processing thread
    other    // its user-interface thread, or processing offline
};

// The innermost host call under way on this thread, asked lazily: most calls never need the answer.
class HostCall
{
public:
    using Ask = HostThread (*)(void* asker);

    HostCall(Ask askHost, void* asker) noexcept : ask(askHost), context(asker), outer(innermost())
    {
        innermost() = this;
    }
    ~HostCall() { innermost() = outer; }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

    HostThread thread() const noexcept
    {
        if (!asked)
        {
            answer = ask(context);
            asked = true;
        }
        return answer;
    }

    static const HostCall* current() noexcept { return innermost(); }

private:
    static HostCall*& innermost() noexcept
    {
        thread_local HostCall* call = nullptr;
        return call;
    }

    const Ask ask;
    void* const context;
    HostCall* const outer;
    mutable bool asked = false;
    mutable HostThread answer = HostThread::unknown;
};

inline bool& processingMark() noexcept
{
    thread_local bool marked = false;
    return marked;
}

// Called at each processing call: the fallback for hosts that do not say where their calls come from.
inline void markAudioThread() noexcept
{
    processingMark() = true;
}

inline bool isAudioThread() noexcept
{
    if (const HostCall* call = HostCall::current())
    {
        const HostThread thread = call->thread();
        if (thread != HostThread::unknown)
            return thread == HostThread::audio;
    }
    return processingMark();
}
} // namespace velmorant::platform
