#include "PluginPlatform.h"

#if JUCE_WINDOWS
#include <windows.h>
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
    return true;
#endif
}
} // namespace velmorant::platform
