#include "PluginPlatform.h"

#if JUCE_WINDOWS
#include <windows.h>
#include <dxgi.h>

#include <atomic>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <string>
#endif

namespace velmorant::platform
{
#if !JUCE_WINDOWS
namespace
{
// Where the loader found the library and the working folder at that moment, taken while the
// library is being loaded. The loader keeps the path it was given, which may be relative to the
// host's working folder then; JUCE would take it relative to the working folder of the moment it
// is asked, so a host that changes its folder later would lose the model data.
struct LoadedModule
{
    std::string path;
    std::string workingFolder;

    LoadedModule()
    {
        static const char marker = 0;
        Dl_info info{};
        if (::dladdr(&marker, &info) != 0 && info.dli_fname != nullptr)
            path = info.dli_fname;
        std::string folder(4096, '\0');
        if (::getcwd(folder.data(), folder.size()) != nullptr)
            workingFolder = folder.c_str();
    }
};

const LoadedModule loadedModule;

juce::File resolveLoadedModule()
{
    const auto folder = juce::File(juce::String::fromUTF8(loadedModule.workingFolder.c_str()));
    const auto file = folder.getChildFile(juce::String::fromUTF8(loadedModule.path.c_str()));
    return file.isSymbolicLink() ? file.getLinkedTarget() : file;
}
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

juce::File pluginModuleFile()
{
#if JUCE_WINDOWS
    // Windows gives the module's full path (once the module is adopted).
    return juce::File::getSpecialLocation(juce::File::currentApplicationFile);
#else
    static const juce::File file = resolveLoadedModule();
    return file;
#endif
}

juce::String modelFolderBeside(const juce::File& pluginFile)
{
    return pluginFile.getFullPathName() + ".dat" + juce::File::getSeparatorString();
}

bool hasDesktop()
{
#if JUCE_LINUX || JUCE_BSD
    return juce::XWindowSystem::getInstance()->getDisplay() != nullptr;
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
