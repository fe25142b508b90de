// A plug-in and an editor that record every operation the dispatcher reaches, with its arguments,
// and answer with configurable values.
#pragma once

#include "AudioEffectX.h"

#include <sstream>
#include <string>
#include <vector>

struct CallLog
{
    std::vector<std::string> calls;
    const void* sentinel = nullptr;       // shown as "ptr"
    const void* secondSentinel = nullptr; // shown as "ptr2"

    std::string show(const void* p) const
    {
        if (p == nullptr)
            return "null";
        return p == sentinel ? "ptr" : p == secondSentinel ? "ptr2" : "other";
    }
    std::string show(bool b) const { return b ? "true" : "false"; }
    std::string show(float f) const
    {
        std::ostringstream out;
        out << f;
        return out.str();
    }
    template <typename Int>
    std::string show(Int i) const
    {
        return std::to_string(i);
    }

    template <typename... Args>
    void record(const char* name, Args... args)
    {
        std::string arguments;
        ((arguments += (arguments.empty() ? "" : ",") + show(args)), ...);
        calls.push_back(std::string(name) + "(" + arguments + ")");
    }
};

struct Answers
{
    bool boolean = true;
    VstInt32 integer = -7;
    VstIntPtr pointerSized = VstIntPtr{0x123456789};
};

class RecordingEditor : public AEffEditor
{
public:
    RecordingEditor(CallLog& log, const Answers& answers) : log_(log), answers_(answers) {}
    bool getRect(ERect** rect) override { return note("editor.getRect", static_cast<const void*>(rect)); }
    bool open(void* parentWindow) override { return note("editor.open", static_cast<const void*>(parentWindow)); }
    void close() override { log_.record("editor.close"); }
    void idle() override { log_.record("editor.idle"); }
    bool onKeyDown(VstKeyCode& key) override { return note("editor.onKeyDown", key.character, +key.virt, +key.modifier); }
    bool onKeyUp(VstKeyCode& key) override { return note("editor.onKeyUp", key.character, +key.virt, +key.modifier); }
    bool setKnobMode(VstInt32 mode) override { return note("editor.setKnobMode", mode); }

private:
    template <typename... Args>
    bool note(const char* name, Args... args)
    {
        log_.record(name, args...);
        return answers_.boolean;
    }
    CallLog& log_;
    const Answers& answers_;
};

class RecordingEffect : public AudioEffectX
{
public:
    static constexpr VstInt32 kPrograms = 12;

    RecordingEffect(CallLog& log, Answers& answers, audioMasterCallback host = nullptr)
        : AudioEffectX(host, kPrograms, 11), log_(log), answers_(answers)
    {
    }
    ~RecordingEffect() override { log_.record("destroyed"); }

    void installEditor() { editor = new RecordingEditor(log_, answers_); }

    // AudioEffect
    void open() override { log_.record("open"); }
    void close() override { log_.record("close"); }
    void suspend() override { log_.record("suspend"); }
    void resume() override { log_.record("resume"); }
    void setSampleRate(float rate) override { log_.record("setSampleRate", rate); }
    void setBlockSize(VstInt32 size) override { log_.record("setBlockSize", size); }
    void processReplacing(float** in, float** out, VstInt32 frames) override
    {
        log_.record("processReplacing", static_cast<const void*>(in), static_cast<const void*>(out), frames);
    }
    void processDoubleReplacing(double** in, double** out, VstInt32 frames) override
    {
        log_.record("processDoubleReplacing", static_cast<const void*>(in), static_cast<const void*>(out), frames);
    }
    void process(float** in, float** out, VstInt32 frames) override
    {
        log_.record("process", static_cast<const void*>(in), static_cast<const void*>(out), frames);
    }
    void setParameter(VstInt32 index, float value) override { log_.record("setParameter", index, value); }
    float getParameter(VstInt32 index) override
    {
        log_.record("getParameter", index);
        return 0.25f;
    }
    VstInt32 getProgram() override { return integer("getProgram"); }
    void setProgram(VstInt32 program) override { log_.record("setProgram", program); }
    void setProgramName(char* name) override { log_.record("setProgramName", ptr(name)); }
    void getProgramName(char* name) override { log_.record("getProgramName", ptr(name)); }
    void getParameterLabel(VstInt32 i, char* t) override { log_.record("getParameterLabel", i, ptr(t)); }
    void getParameterDisplay(VstInt32 i, char* t) override { log_.record("getParameterDisplay", i, ptr(t)); }
    void getParameterName(VstInt32 i, char* t) override { log_.record("getParameterName", i, ptr(t)); }
    VstInt32 getChunk(void** data, bool isPreset) override { return integer("getChunk", ptr(data), isPreset); }
    VstInt32 setChunk(void* data, VstInt32 size, bool isPreset) override
    {
        return integer("setChunk", ptr(data), size, isPreset);
    }
    float getVu() override { return static_cast<float>(integer("getVu")); }

    // AudioEffectX, in opcode order
    VstInt32 processEvents(VstEvents* e) override { return integer("processEvents", ptr(e)); }
    bool canParameterBeAutomated(VstInt32 i) override { return boolean("canParameterBeAutomated", i); }
    bool string2parameter(VstInt32 i, char* t) override { return boolean("string2parameter", i, ptr(t)); }
    VstInt32 getNumCategories() override { return integer("getNumCategories"); }
    bool getProgramNameIndexed(VstInt32 c, VstInt32 i, char* t) override
    {
        return boolean("getProgramNameIndexed", c, i, ptr(t));
    }
    bool copyProgram(VstInt32 d) override { return boolean("copyProgram", d); }
    void inputConnected(VstInt32 i, bool s) override { log_.record("inputConnected", i, s); }
    void outputConnected(VstInt32 i, bool s) override { log_.record("outputConnected", i, s); }
    bool getInputProperties(VstInt32 i, VstPinProperties* p) override
    {
        return boolean("getInputProperties", i, ptr(p));
    }
    bool getOutputProperties(VstInt32 i, VstPinProperties* p) override
    {
        return boolean("getOutputProperties", i, ptr(p));
    }
    VstInt32 getPlugCategory() override { return integer("getPlugCategory"); }
    VstInt32 reportCurrentPosition() override { return integer("reportCurrentPosition"); }
    float* reportDestinationBuffer() override
    {
        log_.record("reportDestinationBuffer");
        return nullptr;
    }
    bool offlineNotify(VstAudioFile* f, VstInt32 n, bool start) override
    {
        return boolean("offlineNotify", ptr(f), n, start);
    }
    bool offlinePrepare(VstOfflineTask* t, VstInt32 n) override { return boolean("offlinePrepare", ptr(t), n); }
    bool offlineRun(VstOfflineTask* t, VstInt32 n) override { return boolean("offlineRun", ptr(t), n); }
    bool processVariableIo(VstVariableIo* v) override { return boolean("processVariableIo", ptr(v)); }
    bool setSpeakerArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) override
    {
        return boolean("setSpeakerArrangement", ptr(in), ptr(out));
    }
    void setBlockSizeAndSampleRate(VstInt32 b, float r) override { log_.record("setBlockSizeAndSampleRate", b, r); }
    bool setBypass(bool on) override { return boolean("setBypass", on); }
    bool getEffectName(char* t) override { return boolean("getEffectName", ptr(t)); }
    bool getErrorText(char* t) override { return boolean("getErrorText", ptr(t)); }
    bool getVendorString(char* t) override { return boolean("getVendorString", ptr(t)); }
    bool getProductString(char* t) override { return boolean("getProductString", ptr(t)); }
    VstInt32 getVendorVersion() override { return integer("getVendorVersion"); }
    VstIntPtr vendorSpecific(VstInt32 a, VstIntPtr b, void* p, float f) override
    {
        log_.record("vendorSpecific", a, b, ptr(p), f);
        return answers_.pointerSized;
    }
    VstInt32 canDo(char* t) override { return integer("canDo", ptr(t)); }
    VstInt32 getGetTailSize() override { return integer("getGetTailSize"); }
    VstInt32 fxIdle() override { return integer("fxIdle"); }
    void* getIcon() override
    {
        log_.record("getIcon");
        return nullptr;
    }
    bool setViewPosition(VstInt32 x, VstInt32 y) override { return boolean("setViewPosition", x, y); }
    bool getParameterProperties(VstInt32 i, VstParameterProperties* p) override
    {
        return boolean("getParameterProperties", i, ptr(p));
    }
    bool keysRequired() override { return boolean("keysRequired"); }
    VstInt32 getVstVersion() override { return integer("getVstVersion"); }
    VstInt32 getMidiProgramName(VstInt32 c, MidiProgramName* n) override
    {
        return integer("getMidiProgramName", c, ptr(n));
    }
    VstInt32 getCurrentMidiProgram(VstInt32 c, MidiProgramName* n) override
    {
        return integer("getCurrentMidiProgram", c, ptr(n));
    }
    VstInt32 getMidiProgramCategory(VstInt32 c, MidiProgramCategory* n) override
    {
        return integer("getMidiProgramCategory", c, ptr(n));
    }
    bool hasMidiProgramsChanged(VstInt32 c) override { return boolean("hasMidiProgramsChanged", c); }
    bool getMidiKeyName(VstInt32 c, MidiKeyName* k) override { return boolean("getMidiKeyName", c, ptr(k)); }
    bool beginSetProgram() override { return boolean("beginSetProgram"); }
    bool endSetProgram() override { return boolean("endSetProgram"); }
    bool getSpeakerArrangement(VstSpeakerArrangement** in, VstSpeakerArrangement** out) override
    {
        return boolean("getSpeakerArrangement", ptr(in), ptr(out));
    }
    VstInt32 getNextShellPlugin(char* n) override { return integer("getNextShellPlugin", ptr(n)); }
    VstInt32 startProcess() override { return integer("startProcess"); }
    VstInt32 stopProcess() override { return integer("stopProcess"); }
    VstInt32 setTotalSampleToProcess(VstInt32 v) override { return integer("setTotalSampleToProcess", v); }
    bool setPanLaw(VstInt32 t, float g) override { return boolean("setPanLaw", t, g); }
    VstInt32 beginLoadBank(VstPatchChunkInfo* p) override { return integer("beginLoadBank", ptr(p)); }
    VstInt32 beginLoadProgram(VstPatchChunkInfo* p) override { return integer("beginLoadProgram", ptr(p)); }
    bool setProcessPrecision(VstInt32 p) override { return boolean("setProcessPrecision", p); }
    VstInt32 getNumMidiInputChannels() override { return integer("getNumMidiInputChannels"); }
    VstInt32 getNumMidiOutputChannels() override { return integer("getNumMidiOutputChannels"); }

private:
    static const void* ptr(const void* p) { return p; }
    template <typename... Args>
    VstInt32 integer(const char* name, Args... args)
    {
        log_.record(name, args...);
        return answers_.integer;
    }
    template <typename... Args>
    bool boolean(const char* name, Args... args)
    {
        log_.record(name, args...);
        return answers_.boolean;
    }
    CallLog& log_;
    Answers& answers_;
};
