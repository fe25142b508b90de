#pragma once

// The editor's fixed geometry, shared by the editor and by the generator that paints the faceplate
// captions and button faces to line up with the controls.
namespace EditorLayout
{
struct Bounds
{
    int x, y, w, h;
};

constexpr int width = 460, height = 368;

constexpr Bounds window { 0, 0, width, height };
constexpr Bounds settingsLabel { 176, 336, 128, 21 };
constexpr Bounds settingsButton { 176, 0, 112, 24 };
constexpr Bounds monoStereoButton { 420, 4, 37, 22 };
constexpr Bounds valveEH1Button { 155, 44, 74, 32 };
constexpr Bounds valveRSD1Button { 234, 44, 76, 32 };
constexpr Bounds channelLowButton { 128, 84, 97, 28 };
constexpr Bounds channelHighButton { 238, 84, 97, 28 };
constexpr Bounds voiceOffButton { 128, 236, 94, 28 };
constexpr Bounds voiceOnButton { 242, 236, 94, 28 };
constexpr Bounds inputKnob { 128, 117, 208, 23 };
constexpr Bounds outputKnob { 128, 271, 208, 23 };
constexpr Bounds gainKnob { 128, 146, 208, 23 };
constexpr Bounds trebleKnob { 128, 176, 208, 23 };
constexpr Bounds bassKnob { 128, 206, 208, 23 };
constexpr Bounds oversamplingKnob { 198, 301, 152, 29 };

// Sizes of the embedded images (one frame each for the strips).
struct Size
{
    int w, h;
};
constexpr Size barFrame { 208, 23 };
constexpr Size oversamplingFrame { 152, 29 };
constexpr Size monoStereoFrame { 37, 22 };
constexpr Size valveEH1Face { 74, 21 };
constexpr Size valveRSD1Face { 76, 21 };
constexpr Size channelFace { 97, 21 };
constexpr Size voiceFace { 94, 28 };

constexpr int glowFrames = 24, levelBarFrames = 50, gainBarFrames = 17, toneBarFrames = 15, oversamplingFrames = 5;
} // namespace EditorLayout
