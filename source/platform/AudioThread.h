#pragma once
// Which threads process audio. The adapter marks every thread that makes a processing call; the
// processor asks before it does work that a processing thread must not wait for (reading model
// files, building networks), and hands that work to a thread of its own instead. A mark lasts for
// the thread's life: hosts deliver automation on such a thread between its processing calls.

namespace velmorant::platform
{
inline bool& audioThreadMark() noexcept
{
    thread_local bool marked = false;
    return marked;
}

inline void markAudioThread() noexcept
{
    audioThreadMark() = true;
}

inline bool isAudioThread() noexcept
{
    return audioThreadMark();
}
} // namespace velmorant::platform
