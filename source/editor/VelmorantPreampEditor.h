#pragma once

#include "FilmStripKnob.h"
#include "ImageToggleButton.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

class VelmorantPreampAudioProcessor;

// The plug-in's fixed 460 by 368 window, drawn entirely from embedded images: two glow strips that
// follow the signal level, a faceplate with a plain and a settings face, six settings knobs, three
// pairs of radio buttons, a mono/stereo switch and an invisible hot spot that toggles the settings
// view. Controls send their parameter to the processor and the host; a change message from the
// processor refreshes them without writing anything back.
class VelmorantPreampEditor : public juce::AudioProcessorEditor,
                              public juce::ChangeListener,
                              public juce::Timer,
                              public juce::Slider::Listener,
                              public juce::Button::Listener
{
public:
    explicit VelmorantPreampEditor (VelmorantPreampAudioProcessor& owner);
    ~VelmorantPreampEditor() override;

    void resized() override;
    // The children cover the whole window; this only honours the opaque flag a plug-in adapter may set.
    void paint (juce::Graphics& g) override;

    void changeListenerCallback (juce::ChangeBroadcaster* source) override;
    void timerCallback() override;
    void sliderValueChanged (juce::Slider* slider) override;
    void buttonClicked (juce::Button* button) override;

    // Sets every control from the processor's current program. Reads under the processor's
    // callback lock; writes no parameter.
    void updateFromProcessor();

    static constexpr int timerIntervalMs = 40;

private:
    VelmorantPreampAudioProcessor& getProcessor() const;
    void sendParameter (int index, float hostValue);
    void applyVisibility();
    void selectRadio (juce::ImageButton& selected, juce::ImageButton& other);
    void createChildren();
    void setUpKnobs();
    // An image as it is compiled into the plug-in: its encoded bytes.
    struct EncodedImage
    {
        const void* data;
        int size;
    };
    void addRadioButton (std::unique_ptr<juce::ImageButton>& button, EncodedImage over, EncodedImage normal);
    void addSettingsKnob (std::unique_ptr<FilmStripKnob>& knob, juce::Image* strip, int frames);

    bool showSettings = true;
    float lastGlowFrame = -1.0f; // no frame written yet

    std::unique_ptr<FilmStripKnob> valveGlowKnob;
    std::unique_ptr<FilmStripKnob> settingsGlowKnob;
    std::unique_ptr<ImageToggleButton> settingsPanel;
    std::unique_ptr<juce::Label> settingsLabel;
    std::unique_ptr<juce::ImageButton> settingsButton;
    std::unique_ptr<ImageToggleButton> monoStereoButton;
    std::unique_ptr<juce::ImageButton> valveEH1Button;
    std::unique_ptr<juce::ImageButton> valveRSD1Button;
    std::unique_ptr<juce::ImageButton> channelLowButton;
    std::unique_ptr<juce::ImageButton> channelHighButton;
    std::unique_ptr<juce::ImageButton> voiceOffButton;
    std::unique_ptr<juce::ImageButton> voiceOnButton;
    std::unique_ptr<FilmStripKnob> inputKnob;
    std::unique_ptr<FilmStripKnob> outputKnob;
    std::unique_ptr<FilmStripKnob> gainKnob;
    std::unique_ptr<FilmStripKnob> trebleKnob;
    std::unique_ptr<FilmStripKnob> bassKnob;
    std::unique_ptr<FilmStripKnob> oversamplingKnob;

    juce::Image valveGlowStrip;
    juce::Image settingsGlowStrip;
    juce::Image panelImage;
    juce::Image monoStereoImage;
    juce::Image levelBarStrip;
    juce::Image gainBarStrip;
    juce::Image toneBarStrip;
    juce::Image oversamplingStrip;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VelmorantPreampEditor)
};
