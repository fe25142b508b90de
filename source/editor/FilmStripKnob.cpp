#include "FilmStripKnob.h"

FilmStripKnob::FilmStripKnob (juce::Image* strip, int frames)
    : juce::Slider ("Slider"), filmStrip (strip), numFrames (juce::jmax (1, frames))
{
    if (filmStrip == nullptr)
        return;
    setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    setSliderStyle (juce::Slider::RotaryVerticalDrag);
    if (filmStrip->isValid())
    {
        frameWidth = filmStrip->getWidth();
        frameHeight = filmStrip->getHeight() / numFrames;
    }
    setRange (0.0, 1.0, (double) 0.001f);
}

int FilmStripKnob::currentFrame() const
{
    const double minimum = getMinimum(), maximum = getMaximum();
    const double proportion = (getValue() - minimum) / (maximum - minimum);
    const double frame = proportion * (double) (numFrames - 1);
    // The slider keeps its value inside its range; the guard only keeps a degenerate range from
    // turning into an out-of-range or undefined conversion.
    if (! (frame >= 0.0))
        return 0;
    return juce::jmin (numFrames - 1, (int) frame);
}

void FilmStripKnob::paint (juce::Graphics& g)
{
    if (filmStrip == nullptr || frameHeight <= 0)
        return;
    g.drawImage (*filmStrip, 0, 0, getWidth(), getHeight(), 0, currentFrame() * frameHeight, frameWidth, frameHeight, false);
}
