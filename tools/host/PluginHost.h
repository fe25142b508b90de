#pragma once
// Loads a VST 2.4 plug-in library as a host does (dlopen, VSTPluginMain with a host callback) and
// drives its record: dispatcher, parameters, processReplacing. It also answers the plug-in's
// requests (version, sample rate, block size, process level, time, automation).

#include "aeffectx.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmorant::host {

class PluginHost {
public:
    struct Automation {
        int32_t index;
        float value;
    };

    PluginHost();
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // dlopen + VSTPluginMain. On failure returns false with a one-line reason in `error`.
    bool load(const std::string& libraryPath, std::string& error);
    // effClose (when open) and dlclose. Safe to call more than once.
    void unload();

    AEffect* effect() const { return effect_; }
    bool isLoaded() const { return effect_ != nullptr; }

    VstIntPtr dispatch(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);

    // effOpen, effSetSampleRate and effSetBlockSize, as a host does before switching a plug-in on.
    void open(double sampleRate, int32_t blockSize);
    void resume();   // effMainsChanged(1)
    void suspend();  // effMainsChanged(0)
    // On the calling thread, which becomes the host's audio thread.
    void processReplacing(float** inputs, float** outputs, int32_t frames);
    // Makes the calling thread the host's audio thread before its first block, as a host knows it.
    void becomeAudioThread() { audioThread_ = std::this_thread::get_id(); }

    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);
    std::string parameterName(int32_t index);
    std::string parameterDisplay(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string programName(int32_t index);
    std::string effectName();
    std::string vendorString();
    std::string productString();
    int32_t numParameters() const { return effect_ ? effect_->numParams : 0; }
    int32_t numPrograms() const { return effect_ ? effect_->numPrograms : 0; }

    // Index of the parameter whose name matches `name` (case-insensitively) or whose decimal
    // index is `name`; -1 when none.
    int32_t findParameter(const std::string& name);

    std::vector<uint8_t> getChunk(bool programOnly);
    void setChunk(const std::vector<uint8_t>& chunk, bool programOnly);

    // Host answers, adjustable by tests and commands.
    std::atomic<VstIntPtr> versionAnswer{2400};
    std::atomic<double> sampleRate{44100.0};
    std::atomic<int32_t> blockSize{512};
    // The audio thread's process level (realtime or offline); asked from any other thread, the host
    // answers the user level, and offline everywhere while it renders offline.
    std::atomic<int32_t> processLevel{kVstProcessLevelRealtime};

    std::vector<Automation> automationLog() const;
    void clearAutomationLog();
    int32_t requestCount(int32_t opcode) const;

private:
    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, void* ptr, float opt);
    int32_t currentProcessLevel() const;
    std::string readText(int32_t opcode, int32_t index, size_t capacity);

    void* library_ = nullptr;
    AEffect* effect_ = nullptr;
    std::atomic<std::thread::id> audioThread_{};
    VstTimeInfo timeInfo_{};
    mutable std::mutex logMutex_;
    std::vector<Automation> automation_;
    std::vector<int32_t> requestCounts_;
};

}  // namespace velmorant::host
