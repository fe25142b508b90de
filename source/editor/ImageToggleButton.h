#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A button drawn as one half of a two-frame image: the top half while its toggle state is off, the
// bottom half while it is on. No hover or pressed look. The image is not owned and must outlive the
// button; with a null image the button draws nothing and does not toggle on click.
class ImageToggleButton : public juce::Button
{
public:
    ImageToggleButton (juce::Image* image, bool clickTogglesState);

    // The image row the current state draws from.
    int sourceY() const { return getToggleState() ? frameHeight : 0; }

protected:
    void paintButton (juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

private:
    juce::Image* image;
    int frameWidth = 0;
    int frameHeight = 0;
};
