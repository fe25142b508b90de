// The Windows plug-in's editor in the Windows host's editor window, under Wine with its X11 driver on
// a virtual X display (scripts/test-windows.sh runs it): drawn as the Linux editor draws the
// same state, following a parameter the host turns, and closed, reopened and unloaded without
// leaving a window, GDI or USER objects, threads or memory behind; and declining to open where Wine
// offers no DirectX graphics.
#include <gtest/gtest.h>

#include "EditorWindow.h"
#include "PluginHost.h"
#include "ProcessResources.h"
#include "ScreenshotComparison.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using velmorant::host::EditorWindow;
using velmorant::host::PluginHost;
using velmorant::test::Bounds;
using velmorant::test::Picture;
using velmorant::test::ProcessResources;

namespace
{
constexpr int32_t gain = 3, showSettings = 10;
constexpr Bounds gainKnob { 128, 146, 208, 23 };
constexpr int settleMs = 400; // the editor's refresh, a glow tick and the repaint that follows

// The Windows editor draws what the Linux editor draws: every channel of every pixel within this
// of the Linux screenshot (both decode the same images with the same libraries and JUCE's software
// renderer; measured: no pixel differs).
constexpr int largestChannelDifference = 2;

// Twenty open/close cycles may grow the committed private memory by this much at most: heap
// fragments of the editor's 18 components and its window; a leaked editor would hold more, its
// decoded glow strips alone take 32 MiB.
constexpr std::size_t memoryGrowthBound = 2 * 1024 * 1024;

// The Linux screenshots of the same states (velmorant-host screenshot under Xvfb): plain.png and
// settings.png of the default program, settings-gain.png with Gain at 1.
std::string linuxScreenshot (const std::string& name)
{
    const char* folder = std::getenv ("VELMORANT_LINUX_SCREENSHOTS");
    return folder == nullptr ? std::string() : std::string (folder) + "/" + name;
}

Picture capture (EditorWindow& window, const std::string& path)
{
    std::string error;
    EXPECT_TRUE (window.saveScreenshot (path, error)) << error;
    return velmorant::test::readPng (path);
}

void expectLikeLinux (const Picture& shot, const std::string& linuxName)
{
    const auto reference = velmorant::test::readPng (linuxScreenshot (linuxName));
    ASSERT_FALSE (reference.rgb.empty()) << "no Linux screenshot " << linuxScreenshot (linuxName);
    ASSERT_EQ (shot.width, reference.width) << linuxName;
    ASSERT_EQ (shot.height, reference.height) << linuxName;
    const auto difference = velmorant::test::comparePictures (shot, reference);
    std::printf ("  %s: %zu of %zu pixels differ from Linux, by at most %d (mean %.4f)\n", linuxName.c_str(),
                 difference.changedPixels, difference.pixels, difference.largest, difference.mean);
    EXPECT_LE (difference.largest, largestChannelDifference) << linuxName;
}

// Loads the DLL and opens it as a host does before it shows the editor.
void loadPlugin (PluginHost& host)
{
    std::string error;
    ASSERT_TRUE (host.load (VELMORANT_PLUGIN_PATH, error)) << error;
    host.open (44100.0, 512);
}

class WindowsEditorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (linuxScreenshot ("").empty())
            GTEST_SKIP() << "VELMORANT_LINUX_SCREENSHOTS names no folder of Linux screenshots";
        ASSERT_NO_FATAL_FAILURE (loadPlugin (host));
        std::string error;
        ASSERT_TRUE (window.open (error)) << error;
        window.idleFor (settleMs);
    }

    void TearDown() override
    {
        window.close();
        host.unload();
    }

    PluginHost host;
    EditorWindow window { host };
};

TEST_F (WindowsEditorTest, ViewsMatchTheLinuxScreenshots)
{
    EXPECT_EQ (window.width(), 460);
    EXPECT_EQ (window.height(), 368);
    expectLikeLinux (capture (window, "windows-plain.png"), "plain.png");

    host.setParameter (showSettings, 1.0f);
    window.idleFor (settleMs);
    expectLikeLinux (capture (window, "windows-settings.png"), "settings.png");
}

// The host turns Gain: the processor's change message reaches the editor through the host's
// message loop, and the knob shows the full bar's frame (the Linux picture of that state) while
// nothing else moves. The refresh writes no parameter, so nothing goes back to the host.
TEST_F (WindowsEditorTest, AHostParameterChangeMovesTheKnobsFrame)
{
    host.setParameter (showSettings, 1.0f);
    window.idleFor (settleMs);
    const auto before = capture (window, "windows-gain-before.png");
    host.clearAutomationLog();

    host.setParameter (gain, 1.0f);
    window.idleFor (settleMs);
    const auto after = capture (window, "windows-gain-after.png");

    const auto inKnob = velmorant::test::comparePictures (before, after, [] (int x, int y) { return gainKnob.contains (x, y); });
    const auto elsewhere = velmorant::test::comparePictures (before, after, [] (int x, int y) { return ! gainKnob.contains (x, y); });
    EXPECT_GT (inKnob.changedPixels, inKnob.pixels / 8) << "the Gain knob's frame did not change";
    EXPECT_EQ (elsewhere.changedPixels, 0u) << "pixels outside the Gain knob changed";
    expectLikeLinux (after, "settings-gain.png");
    EXPECT_TRUE (host.automationLog().empty()) << "the editor sent the host's change back";
}

// Open, close, reopen, close, unload; then the library's second life in the same process (JUCE
// registers its window classes again): every window the editor or JUCE made is gone each time.
TEST (WindowsEditorLifetime, ClosingAndUnloadingLeaveNoWindow)
{
    const long beforeLoad = velmorant::test::countProcessResources().windows;
    for (int life = 0; life < 2; ++life)
    {
        PluginHost host;
        EditorWindow window (host);
        ASSERT_NO_FATAL_FAILURE (loadPlugin (host));
        const long loaded = velmorant::test::countProcessResources().windows;
        std::string error;
        for (int opening = 0; opening < 2; ++opening)
        {
            ASSERT_TRUE (window.open (error)) << error;
            window.idleFor (100);
            EXPECT_GT (velmorant::test::countProcessResources().windows, loaded + 1)
                << "the editor made no window inside the host's";
            window.close();
            EXPECT_EQ (velmorant::test::countProcessResources().windows, loaded) << "closing the editor left a window";
        }
        host.unload();
        EXPECT_EQ (velmorant::test::countProcessResources().windows, beforeLoad) << "unloading left a window";
    }
}

// Twenty open/close cycles in a row, each drawn: the process's GDI and USER objects, windows and
// threads end where they were after the first cycle, the memory within its bound.
TEST (WindowsEditorLifetime, TwentyCyclesKeepHandlesAndMemoryFlat)
{
    PluginHost host;
    EditorWindow window (host);
    ASSERT_NO_FATAL_FAILURE (loadPlugin (host));
    std::string error;
    const auto cycle = [&] {
        ASSERT_TRUE (window.open (error)) << error;
        window.idleFor (100);
        window.close();
    };
    cycle(); // the first opening fills caches that stay (JUCE's images and fonts, Wine's DCs)
    const ProcessResources first = velmorant::test::countProcessResources();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i)
        cycle();
    const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
    const ProcessResources last = velmorant::test::countProcessResources();
    std::printf ("  after the first cycle: %s\n  after 20 more (%.1f s): %s\n", first.describe().c_str(), seconds,
                 last.describe().c_str());
    EXPECT_EQ (last.gdiObjects, first.gdiObjects);
    EXPECT_EQ (last.userObjects, first.userObjects);
    EXPECT_EQ (last.windows, first.windows);
    EXPECT_EQ (last.threads, first.threads);
    EXPECT_LE (last.committedPrivateBytes, first.committedPrivateBytes + memoryGrowthBound);
    host.unload();
}

// Where Wine offers no DirectX graphics (a display without OpenGL) JUCE cannot look for the
// display's vertical blank: the plug-in declines to open its editor instead of crashing, and
// leaves no window behind.
TEST (WindowsEditorWithoutDirectX, OpeningFailsCleanly)
{
    if (std::getenv ("VELMORANT_DISPLAY_WITHOUT_OPENGL") == nullptr)
        GTEST_SKIP() << "runs on a display without OpenGL (VELMORANT_DISPLAY_WITHOUT_OPENGL)";
    const long beforeLoad = velmorant::test::countProcessResources().windows;
    PluginHost host;
    EditorWindow window (host);
    ASSERT_NO_FATAL_FAILURE (loadPlugin (host));
    const long loaded = velmorant::test::countProcessResources().windows;
    std::string error;
    EXPECT_FALSE (window.open (error));
    EXPECT_EQ (error, "the plug-in could not open its editor");
    EXPECT_FALSE (window.isOpen());
    EXPECT_EQ (velmorant::test::countProcessResources().windows, loaded);
    host.unload();
    EXPECT_EQ (velmorant::test::countProcessResources().windows, beforeLoad);
}
} // namespace
