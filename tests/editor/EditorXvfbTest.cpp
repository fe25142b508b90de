// The plug-in's editor opened through the host's dispatcher in a real X window (run under Xvfb):
// clicked and dragged with xdotool, with the changes observed at the host's automation callback,
// and each view compared with its reference picture.
#include <gtest/gtest.h>

#include "EditorWindow.h"
#include "PluginHost.h"
#include "ScreenshotComparison.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

using velmorant::host::EditorWindow;
using velmorant::host::PluginHost;

namespace
{
constexpr int32_t dualTriodes = 0, channel = 1, gain = 3, showSettings = 10;

class EditorWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (std::getenv ("DISPLAY") == nullptr)
            GTEST_SKIP() << "no X display";
        std::string error;
        ASSERT_TRUE (host.load (VELMORANT_PLUGIN_PATH, error)) << error;
        host.open (44100.0, 512);
        ASSERT_TRUE (window.open (error)) << error;
        window.idleFor (300);
    }

    void TearDown() override
    {
        window.close();
        host.unload();
    }

    // Runs xdotool on the editor's window, then lets the editor handle what arrived.
    void xdotool (const std::string& actions)
    {
        const std::string command = "xdotool " + actions;
        ASSERT_EQ (std::system (command.c_str()), 0) << command;
        window.idleFor (150);
    }

    std::string at (int x, int y) const
    {
        return "mousemove --window " + std::to_string (window.windowId()) + " " + std::to_string (x) + " " + std::to_string (y);
    }

    void clickAt (int x, int y) { xdotool (at (x, y) + " click 1"); }

    // Lets the editor work until the plug-in has reported what `arrived` looks for: a valve switch
    // reloads every model file before its report, which takes seconds, more under a sanitizer.
    template <typename Condition>
    void idleUntil (Condition arrived)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (60);
        while (! arrived() && std::chrono::steady_clock::now() < end)
            window.idleFor (20);
    }

    // Clicks and waits until the plug-in reports `index` as `value` to the host.
    void clickAndAwait (int x, int y, int32_t index, float value)
    {
        ASSERT_EQ (std::system (("xdotool " + at (x, y) + " click 1").c_str()), 0);
        idleUntil ([&] { return lastAutomation (index) == value; });
        EXPECT_EQ (lastAutomation (index), value) << "parameter " << index;
    }

    // The last value the plug-in reported to the host for a parameter, or NaN.
    float lastAutomation (int32_t index)
    {
        float value = std::nanf ("");
        for (const auto& change : host.automationLog())
            if (change.index == index)
                value = change.value;
        return value;
    }

    PluginHost host;
    EditorWindow window { host };
};

// Screenshots differ from their references by no more than rendering noise: a small mean
// difference and few pixels far off.
void expectCloseTo (const std::string& shotPath, const std::string& referencePath)
{
    const auto shot = velmorant::test::readPng (shotPath), reference = velmorant::test::readPng (referencePath);
    ASSERT_FALSE (reference.rgb.empty()) << referencePath;
    ASSERT_EQ (shot.width, reference.width);
    ASSERT_EQ (shot.height, reference.height);
    const auto difference = velmorant::test::comparePictures (shot, reference);
    EXPECT_LT (difference.mean, 2.0) << shotPath;
    EXPECT_LT (difference.farOffShare, 0.005) << shotPath;
}
} // namespace

TEST_F (EditorWindowTest, OpensAtTheEditorSize)
{
    EXPECT_EQ (window.width(), 460);
    EXPECT_EQ (window.height(), 368);
    EXPECT_TRUE (host.automationLog().empty()) << "opening the editor reported a parameter change";
}

TEST_F (EditorWindowTest, ClicksAndDragsReachTheHostAsAutomation)
{
    clickAndAwait (232, 12, showSettings, 1.0f); // the settings tab
    EXPECT_EQ (host.getParameter (showSettings), 1.0f); // reported as the editor sent it

    clickAndAwait (272, 60, dualTriodes, 1.0f); // RSD-1
    clickAndAwait (286, 98, channel, 1.0f);     // High

    xdotool (at (140, 157) + " mousedown 1"); // the Gain bar, dragged most of the way to its end
    xdotool (at (230, 157));
    xdotool (at (320, 157) + " mouseup 1");
    idleUntil ([&] { return lastAutomation (gain) > 0.75f; });
    EXPECT_GT (lastAutomation (gain), 0.75f);
    EXPECT_EQ (host.getParameter (gain), lastAutomation (gain));

    clickAndAwait (232, 12, showSettings, 0.0f); // closing the settings view again
}

TEST_F (EditorWindowTest, ViewsMatchTheirReferencePictures)
{
    const std::string plain = "editor_plain.png", settings = "editor_settings.png";
    std::string error;
    ASSERT_TRUE (window.saveScreenshot (plain, error)) << error;
    host.setParameter (showSettings, 1.0f);
    window.idleFor (400);
    ASSERT_TRUE (window.saveScreenshot (settings, error)) << error;
    expectCloseTo (plain, VELMORANT_REFERENCE_DIR "/plain.png");
    expectCloseTo (settings, VELMORANT_REFERENCE_DIR "/settings.png");
}
