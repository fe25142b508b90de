#pragma once
// The adapter between a VST 2.4 host and the JUCE audio processor: our AudioEffectX with the
// plug-in's identity and answers, the processing call, chunks, speaker arrangements, automation
// reports to the host and the editor window.

#include "AudioEffectX.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "PluginPlatform.h"

#include <atomic>
#include <memory>
#include <optional>

class JuceVSTWrapper : public AudioEffectX, private juce::AudioProcessorListener, private juce::AudioPlayHead
{
public:
    static constexpr VstInt32 kUniqueId = vstFourCharCode('Z', 'K', 'T', 'W');
    static constexpr VstInt32 kVersion = 100;

    JuceVSTWrapper(audioMasterCallback hostCallback, std::unique_ptr<juce::AudioProcessor> processor);
    ~JuceVSTWrapper() override;

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;

    void open() override;
    void close() override;
    void suspend() override;
    void resume() override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    bool canParameterBeAutomated(VstInt32 index) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    VstInt32 getProgram() override;
    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;

    VstInt32 getChunk(void** data, bool isPreset) override;
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;

    bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput, VstSpeakerArrangement* pluginOutput) override;
    bool setBypass(bool onOff) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstInt32 canDo(char* text) override;
    VstInt32 getGetTailSize() override;
    VstInt32 getPlugCategory() override;

private:
    struct PinState {
        bool speakerArrangementSet = false;
        VstInt32 arrangementType = 0;
    };

    // AudioProcessorListener: changes the processor reports, forwarded to the host as automation.
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float newValue) override;
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}

    // AudioPlayHead: the host's transport as the processor sees it.
    juce::Optional<PositionInfo> getPosition() const override;

    int processSlice(float** inputs, float** outputs, int offset, int remaining);
    bool fillPinProperties(bool isInput, VstInt32 index, VstPinProperties* properties);
    void applyChannelCounts(int inputs, int outputs);

    VstIntPtr editorGetRect(void* ptr);
    VstIntPtr editorOpen(void* parentWindow);
    void editorClose();
    bool createEditorIfNeeded();
    void shutDown();

    // JUCE stays initialised, and its message thread running, for the adapter's whole life.
    juce::ScopedJuceInitialiser_GUI libraryInitialiser;
    // Released first on destruction, so that JUCE can shut down on the host's thread.
    std::optional<velmorant::platform::SharedMessageThread> messageThread{std::in_place};

    std::unique_ptr<juce::AudioProcessor> processor;
    std::unique_ptr<juce::AudioProcessorEditor> editorComponent;
    std::optional<velmorant::platform::EditorRepaints> editorRepaints;  // while the editor is on the desktop
    ERect editorRect{};

    juce::AudioBuffer<float> workBuffer;  // the audio thread's only buffer, sized on resume
    juce::MidiBuffer midiEvents;
    juce::MemoryBlock chunkMemory;

    int processingInputs = 2;
    int processingOutputs = 2;
    PinState inputPins, outputPins;

    std::atomic<bool> bypassed{false};
    std::atomic<bool> isShutDown{false};
    std::atomic<bool> processLevelPending{true};
    std::atomic<int> activeCalls{0};  // host calls under way, which a close waits for

    JUCE_DECLARE_NON_COPYABLE(JuceVSTWrapper)
};
