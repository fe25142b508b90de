#include "PluginPlatform.h"

#if JUCE_WINDOWS
#include <windows.h>
#include <dxgi.h>

#include <atomic>
#endif

namespace velmorant::platform
{
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
    // Inside a loaded library JUCE answers with that library's path (on Windows once the module is
    // adopted).
    return juce::File::getSpecialLocation(juce::File::currentApplicationFile);
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
