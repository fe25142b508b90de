#include "VelmorantPreampEditor.h"

#include "EditorBindings.h"
#include "EditorLayout.h"
#include "VelmorantImages.h"
#include "VelmorantPreampAudioProcessor.h"

namespace
{
juce::Image decode (const void* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

juce::Rectangle<int> toRectangle (EditorLayout::Bounds b)
{
    return { b.x, b.y, b.w, b.h };
}

// A radio button's selection mark is its normal-state opacity; JUCE keeps it inside the button, so it
// is changed by setting the same faces again.
void setNormalOpacity (juce::ImageButton& button, float opacity)
{
    const juce::Colour none = juce::Colours::transparentBlack;
    button.setImages (false, true, true, button.getNormalImage(), opacity, none, button.getOverImage(), 1.0f, none,
                      juce::Image(), 1.0f, none);
}

// A selected mark is exactly 1.0 on the first button of the pair when the stored value is 1.0.
void markPair (juce::ImageButton& whenOne, juce::ImageButton& otherwise, float storedValue)
{
    const bool one = storedValue == 1.0f;
    setNormalOpacity (whenOne, one ? 1.0f : 0.0f);
    setNormalOpacity (otherwise, one ? 0.0f : 1.0f);
}
} // namespace

VelmorantPreampEditor::VelmorantPreampEditor (VelmorantPreampAudioProcessor& owner)
    : juce::AudioProcessorEditor (owner)
{
    using namespace VelmorantImages;
    valveGlowStrip = decode (valve_glow_strip_jpg, valve_glow_strip_jpgSize);
    settingsGlowStrip = decode (settings_glow_strip_jpg, settings_glow_strip_jpgSize);
    panelImage = decode (panel_png, panel_pngSize);
    monoStereoImage = decode (mono_stereo_png, mono_stereo_pngSize);
    levelBarStrip = decode (level_bar_strip_png, level_bar_strip_pngSize);
    gainBarStrip = decode (gain_bar_strip_png, gain_bar_strip_pngSize);
    toneBarStrip = decode (tone_bar_strip_png, tone_bar_strip_pngSize);
    oversamplingStrip = decode (oversampling_strip_png, oversampling_strip_pngSize);

    createChildren();
    setSize (EditorLayout::width, EditorLayout::height);
    monoStereoButton->addListener (this);
    setUpKnobs();
    settingsLabel->setText ("", juce::dontSendNotification);
    showSettings = true;
    owner.addChangeListener (this);
    updateFromProcessor();
    startTimer (timerIntervalMs);
}

VelmorantPreampEditor::~VelmorantPreampEditor()
{
    stopTimer();
    getProcessor().removeChangeListener (this);
    // Children go in creation order; reset() clears each pointer before deleting its child.
    valveGlowKnob.reset();
    settingsGlowKnob.reset();
    settingsPanel.reset();
    settingsLabel.reset();
    settingsButton.reset();
    monoStereoButton.reset();
    valveEH1Button.reset();
    valveRSD1Button.reset();
    channelLowButton.reset();
    channelHighButton.reset();
    voiceOffButton.reset();
    voiceOnButton.reset();
    inputKnob.reset();
    outputKnob.reset();
    gainKnob.reset();
    trebleKnob.reset();
    bassKnob.reset();
    oversamplingKnob.reset();
    for (auto* image : { &valveGlowStrip, &settingsGlowStrip, &panelImage, &monoStereoImage, &levelBarStrip,
                         &gainBarStrip, &toneBarStrip, &oversamplingStrip })
        *image = juce::Image();
}

VelmorantPreampAudioProcessor& VelmorantPreampEditor::getProcessor() const
{
    return static_cast<VelmorantPreampAudioProcessor&> (processor);
}

void VelmorantPreampEditor::createChildren()
{
    using namespace VelmorantImages;
    valveGlowKnob = std::make_unique<FilmStripKnob> (&valveGlowStrip, EditorLayout::glowFrames);
    addAndMakeVisible (*valveGlowKnob);
    settingsGlowKnob = std::make_unique<FilmStripKnob> (&settingsGlowStrip, EditorLayout::glowFrames);
    addAndMakeVisible (*settingsGlowKnob);

    settingsPanel = std::make_unique<ImageToggleButton> (&panelImage, false);
    addAndMakeVisible (*settingsPanel);
    settingsPanel->setName ("new component");

    settingsLabel = std::make_unique<juce::Label> ("new label");
    addAndMakeVisible (*settingsLabel);
    settingsLabel->setFont (juce::Font ("Helvetica Neue", "Regular", 17.0f));
    settingsLabel->setJustificationType (juce::Justification::centredRight);
    settingsLabel->setEditable (false, false, false);
    settingsLabel->setColour (juce::Label::textColourId, juce::Colour ((juce::uint8) 255, (juce::uint8) 255, (juce::uint8) 255, (juce::uint8) 45));
    settingsLabel->setColour (juce::TextEditor::textColourId, juce::Colour ((juce::uint8) 252, (juce::uint8) 252, (juce::uint8) 252, (juce::uint8) 0));
    settingsLabel->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    settingsButton = std::make_unique<juce::ImageButton> ("new button");
    addAndMakeVisible (*settingsButton);
    settingsButton->addListener (this);
    const juce::Colour none = juce::Colours::transparentBlack;
    settingsButton->setImages (false, true, true, juce::Image(), 1.0f, none, juce::Image(), 1.0f, none, juce::Image(), 1.0f, none);

    monoStereoButton = std::make_unique<ImageToggleButton> (&monoStereoImage, true);
    addAndMakeVisible (*monoStereoButton);
    monoStereoButton->setName ("new component");

    // The radio buttons' faces, an over face and a normal face per pair; the channel and voice
    // pairs serve both buttons of their pair.
    const EncodedImage valveEH1Over { valve_eh1_over_png, valve_eh1_over_pngSize };
    const EncodedImage valveEH1Normal { valve_eh1_normal_png, valve_eh1_normal_pngSize };
    const EncodedImage valveRSD1Over { valve_rsd1_over_png, valve_rsd1_over_pngSize };
    const EncodedImage valveRSD1Normal { valve_rsd1_normal_png, valve_rsd1_normal_pngSize };
    const EncodedImage channelOver { channel_over_png, channel_over_pngSize };
    const EncodedImage channelNormal { channel_normal_png, channel_normal_pngSize };
    const EncodedImage voiceOver { voice_over_png, voice_over_pngSize };
    const EncodedImage voiceNormal { voice_normal_png, voice_normal_pngSize };
    addRadioButton (valveEH1Button, valveEH1Over, valveEH1Normal);
    addRadioButton (valveRSD1Button, valveRSD1Over, valveRSD1Normal);
    addRadioButton (channelLowButton, channelOver, channelNormal);
    addRadioButton (channelHighButton, channelOver, channelNormal);
    addRadioButton (voiceOffButton, voiceOver, voiceNormal);
    addRadioButton (voiceOnButton, voiceOver, voiceNormal);

    addSettingsKnob (inputKnob, &levelBarStrip, EditorLayout::levelBarFrames);
    addSettingsKnob (outputKnob, &levelBarStrip, EditorLayout::levelBarFrames);
    addSettingsKnob (gainKnob, &gainBarStrip, EditorLayout::gainBarFrames);
    addSettingsKnob (trebleKnob, &toneBarStrip, EditorLayout::toneBarFrames);
    addSettingsKnob (bassKnob, &toneBarStrip, EditorLayout::toneBarFrames);
    addSettingsKnob (oversamplingKnob, &oversamplingStrip, EditorLayout::oversamplingFrames);
}

void VelmorantPreampEditor::addRadioButton (std::unique_ptr<juce::ImageButton>& button, EncodedImage over,
                                            EncodedImage normal)
{
    button = std::make_unique<juce::ImageButton> ("new button");
    addAndMakeVisible (*button);
    button->addListener (this);
    const juce::Colour none = juce::Colours::transparentBlack;
    const auto overFace = decode (over.data, over.size);
    const auto normalFace = decode (normal.data, normal.size);
    button->setImages (false, true, true, normalFace, 0.0f, none, overFace, 1.0f, none, juce::Image(), 1.0f, none);
}

void VelmorantPreampEditor::addSettingsKnob (std::unique_ptr<FilmStripKnob>& knob, juce::Image* strip, int frames)
{
    knob = std::make_unique<FilmStripKnob> (strip, frames);
    addAndMakeVisible (*knob);
    knob->setName ("new component");
}

void VelmorantPreampEditor::setUpKnobs()
{
    valveGlowKnob->setRange (0.0, 23.0, 1.0);
    settingsGlowKnob->setRange (0.0, 23.0, 1.0);

    inputKnob->setSliderStyle (juce::Slider::LinearBar);
    inputKnob->setRange (0.0, 12.25, 0.25);
    inputKnob->addListener (this);
    outputKnob->setSliderStyle (juce::Slider::LinearBar);
    outputKnob->setRange (-37.0, 12.0, 1.0);
    outputKnob->addListener (this);

    struct Setting
    {
        FilmStripKnob& knob;
        double maximum;
        juce::Slider::SliderStyle style;
    };
    for (const auto& s : { Setting { *gainKnob, 16.0, juce::Slider::LinearBar }, Setting { *trebleKnob, 14.0, juce::Slider::LinearBar },
                           Setting { *bassKnob, 14.0, juce::Slider::LinearBar },
                           Setting { *oversamplingKnob, 4.0, juce::Slider::LinearHorizontal } })
    {
        s.knob.setRange (0.0, s.maximum, 1.0);
        s.knob.setSliderStyle (s.style);
        s.knob.addListener (this);
    }
}

void VelmorantPreampEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void VelmorantPreampEditor::resized()
{
    using namespace EditorLayout;
    valveGlowKnob->setBounds (toRectangle (window));
    settingsGlowKnob->setBounds (toRectangle (window));
    settingsPanel->setBounds (toRectangle (window));
    settingsLabel->setBounds (toRectangle (EditorLayout::settingsLabel));
    settingsButton->setBounds (toRectangle (EditorLayout::settingsButton));
    monoStereoButton->setBounds (toRectangle (EditorLayout::monoStereoButton));
    valveEH1Button->setBounds (toRectangle (EditorLayout::valveEH1Button));
    valveRSD1Button->setBounds (toRectangle (EditorLayout::valveRSD1Button));
    channelLowButton->setBounds (toRectangle (EditorLayout::channelLowButton));
    channelHighButton->setBounds (toRectangle (EditorLayout::channelHighButton));
    voiceOffButton->setBounds (toRectangle (EditorLayout::voiceOffButton));
    voiceOnButton->setBounds (toRectangle (EditorLayout::voiceOnButton));
    inputKnob->setBounds (toRectangle (EditorLayout::inputKnob));
    outputKnob->setBounds (toRectangle (EditorLayout::outputKnob));
    gainKnob->setBounds (toRectangle (EditorLayout::gainKnob));
    trebleKnob->setBounds (toRectangle (EditorLayout::trebleKnob));
    bassKnob->setBounds (toRectangle (EditorLayout::bassKnob));
    oversamplingKnob->setBounds (toRectangle (EditorLayout::oversamplingKnob));
}

void VelmorantPreampEditor::sendParameter (int index, float hostValue)
{
    processor.setParameterNotifyingHost (index, hostValue);
}

void VelmorantPreampEditor::applyVisibility()
{
    settingsGlowKnob->setVisible (showSettings);
    settingsPanel->setToggleState (showSettings, juce::dontSendNotification);
    juce::Component* const settingsOnly[] = { settingsLabel.get(), inputKnob.get(), outputKnob.get(), gainKnob.get(),
                                              trebleKnob.get(), bassKnob.get(), oversamplingKnob.get(),
                                              valveEH1Button.get(), valveRSD1Button.get(), channelLowButton.get(),
                                              channelHighButton.get(), voiceOffButton.get(), voiceOnButton.get() };
    for (auto* child : settingsOnly)
        child->setVisible (showSettings);
}

void VelmorantPreampEditor::selectRadio (juce::ImageButton& selected, juce::ImageButton& other)
{
    setNormalOpacity (selected, 1.0f);
    setNormalOpacity (other, 0.0f);
}

void VelmorantPreampEditor::buttonClicked (juce::Button* button)
{
    struct Radio
    {
        juce::ImageButton* button;
        juce::ImageButton* partner;
        int parameter;
        float hostValue;
    };
    const Radio radios[] = {
        { valveEH1Button.get(), valveRSD1Button.get(), paramDualTriodes, 0.0f },
        { valveRSD1Button.get(), valveEH1Button.get(), paramDualTriodes, 1.0f },
        { channelLowButton.get(), channelHighButton.get(), paramChannel, 0.0f },
        { channelHighButton.get(), channelLowButton.get(), paramChannel, 1.0f },
        { voiceOffButton.get(), voiceOnButton.get(), paramVoice, 1.0f },
        { voiceOnButton.get(), voiceOffButton.get(), paramVoice, 0.0f },
    };
    for (const auto& radio : radios)
        if (button == radio.button)
        {
            sendParameter (radio.parameter, radio.hostValue);
            selectRadio (*radio.button, *radio.partner);
            repaint();
            return;
        }

    if (button == monoStereoButton.get())
    {
        sendParameter (paramMonoStereo, monoStereoButton->getToggleState() ? 1.0f : 0.0f);
    }
    else if (button == settingsButton.get())
    {
        showSettings = ! showSettings;
        applyVisibility();
        sendParameter (paramShowSettings, showSettings ? 1.0f : 0.0f);
        repaint();
    }
}

void VelmorantPreampEditor::sliderValueChanged (juce::Slider* slider)
{
    const std::pair<juce::Slider*, int> knobs[] = {
        { inputKnob.get(), paramInput }, { gainKnob.get(), paramGain },     { trebleKnob.get(), paramTreble },
        { bassKnob.get(), paramBass },   { outputKnob.get(), paramOutput }, { oversamplingKnob.get(), paramOversampling },
    };
    for (const auto& [knob, parameter] : knobs)
        if (slider == knob)
            sendParameter (parameter, EditorBindings::knobToHostValue (parameter, knob->getValue()));
}

void VelmorantPreampEditor::changeListenerCallback (juce::ChangeBroadcaster*)
{
    updateFromProcessor();
}

void VelmorantPreampEditor::updateFromProcessor()
{
    PreampProgram program;
    {
        const juce::ScopedLock lock (processor.getCallbackLock());
        program = getProcessor().getCurrentProgramCopy();
    }
    const auto& p = program.values;

    showSettings = p[paramShowSettings] != 0.0f;
    applyVisibility();
    markPair (*valveRSD1Button, *valveEH1Button, p[paramDualTriodes]);
    markPair (*channelHighButton, *channelLowButton, p[paramChannel]);
    markPair (*voiceOffButton, *voiceOnButton, p[paramVoice]);

    // Without notification: a knob that snaps a stored value to its interval must not send the
    // snapped value back, or merely opening the editor would change the program and echo every
    // host automation back altered.
    const std::pair<FilmStripKnob*, int> knobs[] = {
        { gainKnob.get(), paramGain },   { trebleKnob.get(), paramTreble }, { bassKnob.get(), paramBass },
        { inputKnob.get(), paramInput }, { outputKnob.get(), paramOutput }, { oversamplingKnob.get(), paramOversampling },
    };
    for (const auto& [knob, parameter] : knobs)
        knob->setValue (EditorBindings::storedToKnobValue (parameter, p[(size_t) parameter]), juce::dontSendNotification);

    monoStereoButton->setToggleState (EditorBindings::switchIsOn (p[paramMonoStereo]), juce::dontSendNotification);
    repaint();
}

void VelmorantPreampEditor::timerCallback()
{
    EditorBindings::LevelStatistics statistics[2];
    {
        const juce::ScopedLock lock (processor.getCallbackLock());
        for (int c = 0; c < 2; ++c)
        {
            const auto& levels = getProcessor().getChannel (c).levels;
            statistics[c] = { levels.reciprocal, levels.sum, levels.sumSquares };
        }
    }
    const float frame = EditorBindings::glowFrame (statistics[0], statistics[1]);
    if (frame == lastGlowFrame)
        return;
    valveGlowKnob->setValue (double (frame), juce::sendNotificationAsync);
    settingsGlowKnob->setValue (double (frame), juce::sendNotificationAsync);
    lastGlowFrame = frame;
}
