#pragma once
// What the plug-in does differently on Linux and on Windows, each in one place: which module JUCE
// lives in, the model data folder beside the plug-in file, the thread that runs JUCE's messages,
// whether editor windows can be made and how their repaints reach the screen.

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

// Linux only (the header is empty elsewhere): how JUCE dispatches its messages on Linux.
#include <juce_audio_plugin_client/utility/juce_LinuxMessageThread.h>

namespace velmorant::platform
{
#if JUCE_LINUX || JUCE_BSD
// Whether DISPLAY names an X server. JUCE would open ":0" without one, whichever server holds that
// display, and an X server that goes away ends its clients: the host with the plug-in.
bool displayIsNamed();

// A plug-in on Linux brings its own message thread, shared by all its instances. It connects to the
// X server, so that windows' events reach it, only where DISPLAY names one.
class PluginMessageThread : public juce::Thread
{
public:
    PluginMessageThread();
    ~PluginMessageThread() override;
    void start();
    void stop();

private:
    void run() override;

    juce::WaitableEvent initialised;
};

// While the host drives events, a host call that touches components holds this, and the editor's
// idle call processes what is pending; the message thread pauses meanwhile.
class HostDrivenEventLoop
{
public:
    HostDrivenEventLoop();
    ~HostDrivenEventLoop();
    void processPendingEvents();

private:
    juce::SharedResourcePointer<PluginMessageThread> messageThread;
};

using SharedMessageThread = juce::SharedResourcePointer<PluginMessageThread>;
using HostDrivenEvents = juce::SharedResourcePointer<HostDrivenEventLoop>;
#else
// On Windows the host's user-interface thread, which loads the plug-in, runs the message loop that
// dispatches JUCE's messages to its hidden message window: there is nothing to start or drive.
struct SharedMessageThread
{
    SharedMessageThread() {}
};
struct HostDrivenEvents
{
    HostDrivenEvents() {}
    HostDrivenEvents* operator->() { return this; }
    void processPendingEvents() {}
};
#endif

// Passes an open editor's repaints on to its window. JUCE's Windows windows only do so at the
// display's vertical blank, which a thread waits for through DXGI; where that wait fails (Wine
// answers that it is not implemented) or DXGI lists no output for the window's monitor, the editor
// would show its first paint and never change. While it lives, this flushes the editor window's
// pending repaints at the display rate on the message thread; elsewhere it does nothing.
#if JUCE_WINDOWS
class EditorRepaints : private juce::Timer
{
public:
    explicit EditorRepaints (juce::Component& editor);
    ~EditorRepaints() override;

private:
    void timerCallback() override;

    juce::Component& editor;
};
#else
struct EditorRepaints
{
    explicit EditorRepaints (juce::Component&) {}
};
#endif

// Called by the entry point before JUCE starts. On Windows JUCE must be told that it lives in this
// DLL, or its window classes and currentApplicationFile refer to the host's executable.
void adoptPluginModule();

// The model data folder, with the platform's separator appended: on Windows the plug-in file's full
// path with ".dat\" appended. On Linux, chosen once as the library loads, ".dat/" appended to the
// library's full path as it was loaded (links kept) where that folder exists, else to the file its
// links finally lead to where that one does, else to the first.
juce::String modelFolder();

// Whether editor windows can be made: on Linux only with an X display, on Windows only where DirectX
// graphics (DXGI) can be reached.
bool hasDesktop();
} // namespace velmorant::platform
