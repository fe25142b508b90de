#include "PluginPlatform.h"

#if JUCE_WINDOWS
#include <windows.h>
#include <dxgi.h>

#include <atomic>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#endif

namespace velmorant::platform
{
#if !JUCE_WINDOWS
namespace
{
std::string joined (const std::string& folder, const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    return (std::filesystem::path (folder) / path).lexically_normal().string();
}

bool isFolder (const std::string& path)
{
    struct stat info {};
    return ::stat (path.c_str(), &info) == 0 && S_ISDIR (info.st_mode); // a link to a folder counts
}

// The file `path` finally leads to, every link on the way followed; "" when it cannot be resolved.
std::string fullyResolved (const std::string& path)
{
    char* resolved = ::realpath (path.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    std::string file (resolved);
    std::free (resolved);
    return file;
}

// The model folder, chosen once while the library is being loaded, from where the loader found it.
// The loader keeps the path it was given, which may be relative to the host's working folder then:
// it is made absolute against that folder, or a host that changes its folder later would lose the
// model data. A host may reach the library through links, one leading to the next: the folder
// beside the library as loaded is taken where it exists (a link can bring its own model data),
// else the one beside the file the links finally lead to, where the build puts it. When neither
// exists, the first is named in the messages.
std::string chooseModelFolder()
{
    static const char marker = 0;
    Dl_info info{};
    std::string workingFolder (4096, '\0');
    if (::dladdr (&marker, &info) == 0 || info.dli_fname == nullptr
        || ::getcwd (workingFolder.data(), workingFolder.size()) == nullptr)
        return {};
    const std::string loaded = joined (workingFolder.c_str(), info.dli_fname);
    const std::string resolved = fullyResolved (loaded);
    if (! isFolder (loaded + ".dat") && ! resolved.empty() && isFolder (resolved + ".dat"))
        return resolved + ".dat/";
    return loaded + ".dat/";
}

const std::string loadedModelFolder = chooseModelFolder();
} // namespace
#endif

void adoptPluginModule()
{
#if JUCE_WINDOWS
    HMODULE module = nullptr;
    const auto flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&adoptPluginModule), &module) != 0)
        juce::Process::setCurrentModuleInstanceHandle(module);
#endif
}

#if JUCE_WINDOWS
EditorRepaints::EditorRepaints (juce::Component& editorToRepaint) : editor (editorToRepaint)
{
    startTimerHz (60);
}

EditorRepaints::~EditorRepaints() { stopTimer(); }

void EditorRepaints::timerCallback()
{
    if (auto* peer = editor.getPeer())
        peer->performAnyPendingRepaintsNow();
}
#endif

juce::String modelFolder()
{
#if JUCE_WINDOWS
    // Windows gives the module's full path (once the module is adopted).
    const auto module = juce::File::getSpecialLocation (juce::File::currentApplicationFile);
    return module.getFullPathName() + ".dat" + juce::File::getSeparatorString();
#else
    return juce::String::fromUTF8 (loadedModelFolder.c_str());
#endif
}

#if JUCE_LINUX || JUCE_BSD
bool displayIsNamed()
{
    const char* display = std::getenv ("DISPLAY");
    return display != nullptr && *display != 0;
}

PluginMessageThread::PluginMessageThread() : juce::Thread ("Velmorant Preamp messages")
{
    start();
}

PluginMessageThread::~PluginMessageThread()
{
    juce::MessageManager::getInstance()->stopDispatchLoop();
    stop();
}

void PluginMessageThread::start()
{
    startThread (Priority::high);
    initialised.wait (10000); // the thread is JUCE's message thread when this returns
}

void PluginMessageThread::stop()
{
    signalThreadShouldExit();
    stopThread (-1);
}

void PluginMessageThread::run()
{
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
    if (displayIsNamed())
        juce::XWindowSystem::getInstance();
    initialised.signal();
    while (! threadShouldExit())
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
}

HostDrivenEventLoop::HostDrivenEventLoop()
{
    messageThread->stop();
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
}

HostDrivenEventLoop::~HostDrivenEventLoop()
{
    messageThread->start();
}

void HostDrivenEventLoop::processPendingEvents()
{
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
    for (;;)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            return;
}
#endif

bool hasDesktop()
{
#if JUCE_LINUX || JUCE_BSD
    return displayIsNamed() && juce::XWindowSystem::getInstance()->getDisplay() != nullptr;
#else
    // A JUCE window looks for its display's vertical blank through a DXGI factory, which it uses
    // without checking that one was made: where none can be (Wine without OpenGL), opening the
    // editor would crash the host instead of failing. Once one was made the answer stays (making
    // one takes a quarter of a second under Wine).
    static std::atomic<bool> reached { false };
    if (reached)
        return true;
    IDXGIFactory* factory = nullptr;
    if (FAILED (CreateDXGIFactory (__uuidof (IDXGIFactory), reinterpret_cast<void**> (&factory))) || factory == nullptr)
        return false;
    factory->Release();
    reached = true;
    return true;
#endif
}
} // namespace velmorant::platform
