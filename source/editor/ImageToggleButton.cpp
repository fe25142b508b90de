#include "ImageToggleButton.h"

ImageToggleButton::ImageToggleButton (juce::Image* img, bool toggleOnClick)
    : juce::Button ("Button"), image (img)
{
    if (image == nullptr)
        return;
    frameHeight = image->getHeight() / 2;
    frameWidth = image->getWidth();
    setClickingTogglesState (toggleOnClick);
}

void ImageToggleButton::paintButton (juce::Graphics& g, bool, bool)
{
    if (image == nullptr || frameHeight <= 0)
        return;
    g.drawImage (*image, 0, 0, getWidth(), getHeight(), 0, sourceY(), frameWidth, frameHeight, false);
}
