// The plug-in's message thread on Linux: without DISPLAY it opens no X connection. JUCE would
// otherwise open ":0", whichever server holds it, and a server that goes away ends the host.
#include <gtest/gtest.h>

#include "PluginPlatform.h"

#include <cstdlib>
#include <string>

#if JUCE_LINUX || JUCE_BSD
TEST(PluginPlatform, WithoutDisplayTheMessageThreadConnectsToNoXServer)
{
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    ::unsetenv("DISPLAY");
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        const velmorant::platform::SharedMessageThread messageThread;
        EXPECT_FALSE(velmorant::platform::hasDesktop());
        {
            const velmorant::platform::HostDrivenEvents hostDrivenEvents;
            hostDrivenEvents->processPendingEvents();
        }
        EXPECT_EQ(juce::XWindowSystem::getInstanceWithoutCreating(), nullptr);
    }
    if (!saved.empty())
        ::setenv("DISPLAY", saved.c_str(), 1);
}
#endif
