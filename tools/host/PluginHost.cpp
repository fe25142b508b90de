#include "PluginHost.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "HostPlatform.h"

namespace velmorant::host {
namespace {

using EntryPoint = AEffect* (*)(audioMasterCallback);

constexpr int32_t kHighestRequest = audioMasterGetInputSpeakerArrangement;

// The host whose plug-in is being created: during VSTPluginMain the plug-in may call back with a
// null record, before the host could have tagged it.
thread_local PluginHost* loadingHost = nullptr;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

VstIntPtr copyText(void* destination, const char* text) {
    if (destination == nullptr) return 0;
    std::strcpy(static_cast<char*>(destination), text);  // the hosts' texts fit the 64-byte buffers
    return 1;
}

}  // namespace

PluginHost::PluginHost() : requestCounts_(kHighestRequest + 1, 0) {}

PluginHost::~PluginHost() { unload(); }

bool PluginHost::load(const std::string& libraryPath, std::string& error) {
    unload();
    std::string reason;
    library_ = platform::loadLibrary(libraryPath, reason);
    if (library_ == nullptr) {
        error = "cannot load " + libraryPath + ": " + reason;
        return false;
    }
    auto entry = reinterpret_cast<EntryPoint>(platform::findSymbol(library_, "VSTPluginMain"));
    if (entry == nullptr) {
        error = libraryPath + " has no VSTPluginMain entry point: not a VST 2.4 plug-in";
        unload();
        return false;
    }
    loadingHost = this;
    AEffect* created = entry(&PluginHost::callback);
    loadingHost = nullptr;
    if (created == nullptr) {
        error = libraryPath + ": VSTPluginMain returned no plug-in";
        unload();
        return false;
    }
    if (created->magic != kEffectMagic) {
        error = libraryPath + ": VSTPluginMain returned a record without the VST magic";
        unload();
        return false;
    }
    created->resvd1 = reinterpret_cast<VstIntPtr>(this);
    effect_ = created;
    return true;
}

void PluginHost::unload() {
    if (effect_ != nullptr) {
        effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
        effect_ = nullptr;
    }
    if (library_ != nullptr) {
        platform::unloadLibrary(library_);
        library_ = nullptr;
    }
}

VstIntPtr PluginHost::dispatch(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    return effect_ ? effect_->dispatcher(effect_, opcode, index, value, ptr, opt) : 0;
}

void PluginHost::open(double rate, int32_t frames) {
    sampleRate = rate;
    blockSize = frames;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    dispatch(effSetBlockSize, 0, frames);
}

void PluginHost::resume() { dispatch(effMainsChanged, 0, 1); }

void PluginHost::suspend() { dispatch(effMainsChanged, 0, 0); }

void PluginHost::processReplacing(float** inputs, float** outputs, int32_t frames) {
    becomeAudioThread();
    if (effect_ != nullptr) effect_->processReplacing(effect_, inputs, outputs, frames);
}

void PluginHost::setParameter(int32_t index, float value) {
    if (effect_ != nullptr) effect_->setParameter(effect_, index, value);
}

float PluginHost::getParameter(int32_t index) { return effect_ ? effect_->getParameter(effect_, index) : 0.0f; }

std::string PluginHost::readText(int32_t opcode, int32_t index, size_t capacity) {
    // Generous and zero-filled, so that a plug-in overrunning the VST limits cannot hurt the host.
    std::vector<char> buffer(std::max<size_t>(capacity, 256), '\0');
    dispatch(opcode, index, 0, buffer.data());
    buffer.back() = '\0';
    return buffer.data();
}

std::string PluginHost::parameterName(int32_t index) { return readText(effGetParamName, index, 16); }
std::string PluginHost::parameterDisplay(int32_t index) { return readText(effGetParamDisplay, index, 24); }
std::string PluginHost::parameterLabel(int32_t index) { return readText(effGetParamLabel, index, 24); }
std::string PluginHost::programName(int32_t index) { return readText(effGetProgramNameIndexed, index, 24); }
std::string PluginHost::effectName() { return readText(effGetEffectName, 0, 64); }
std::string PluginHost::vendorString() { return readText(effGetVendorString, 0, 64); }
std::string PluginHost::productString() { return readText(effGetProductString, 0, 64); }

int32_t PluginHost::findParameter(const std::string& name) {
    for (int32_t i = 0; i < numParameters(); ++i)
        if (equalsIgnoringCase(parameterName(i), name)) return i;
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const long index = name.size() < 9 ? std::stol(name) : -1;
        if (index >= 0 && index < numParameters()) return static_cast<int32_t>(index);
    }
    return -1;
}

std::vector<uint8_t> PluginHost::getChunk(bool programOnly) {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, programOnly ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

void PluginHost::setChunk(const std::vector<uint8_t>& chunk, bool programOnly) {
    std::vector<uint8_t> copy = chunk;  // the plug-in takes a non-const pointer
    dispatch(effSetChunk, programOnly ? 1 : 0, static_cast<VstIntPtr>(copy.size()), copy.data());
}

std::vector<PluginHost::Automation> PluginHost::automationLog() const {
    std::lock_guard<std::mutex> lock(logMutex_);
    return automation_;
}

void PluginHost::clearAutomationLog() {
    std::lock_guard<std::mutex> lock(logMutex_);
    automation_.clear();
}

int32_t PluginHost::requestCount(int32_t opcode) const {
    std::lock_guard<std::mutex> lock(logMutex_);
    return opcode >= 0 && opcode <= kHighestRequest ? requestCounts_[static_cast<size_t>(opcode)] : 0;
}

VstIntPtr PluginHost::callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float opt) {
    PluginHost* host = effect != nullptr && effect->resvd1 != 0 ? reinterpret_cast<PluginHost*>(effect->resvd1)
                                                                 : loadingHost;
    if (host == nullptr) return opcode == audioMasterVersion ? 2400 : 0;
    return host->answer(opcode, index, ptr, opt);
}

VstIntPtr PluginHost::answer(VstInt32 opcode, VstInt32 index, void* ptr, float opt) {
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        if (opcode >= 0 && opcode <= kHighestRequest) ++requestCounts_[static_cast<size_t>(opcode)];
        if (opcode == audioMasterAutomate) automation_.push_back({index, opt});
    }
    switch (opcode) {
    case audioMasterVersion: return versionAnswer;
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(sampleRate.load());
    case audioMasterGetBlockSize: return blockSize;
    case audioMasterGetCurrentProcessLevel: return currentProcessLevel();
    case audioMasterGetTime:
        timeInfo_ = {};
        timeInfo_.sampleRate = sampleRate;
        timeInfo_.tempo = 120.0;
        timeInfo_.timeSigNumerator = 4;
        timeInfo_.timeSigDenominator = 4;
        timeInfo_.flags = kVstTempoValid | kVstTimeSigValid;
        return reinterpret_cast<VstIntPtr>(&timeInfo_);
    case audioMasterGetVendorString: return copyText(ptr, "Velmorant");
    case audioMasterGetProductString: return copyText(ptr, "velmorant-host");
    case audioMasterGetVendorVersion: return 100;
    case audioMasterAutomate:
    case audioMasterIdle:
    case audioMasterSizeWindow:
    case audioMasterUpdateDisplay:
    case audioMasterBeginEdit:
    case audioMasterEndEdit: return 1;
    default: return 0;
    }
}

int32_t PluginHost::currentProcessLevel() const {
    const int32_t level = processLevel;
    if (level == kVstProcessLevelOffline || audioThread_.load() == std::this_thread::get_id()) return level;
    return kVstProcessLevelUser;
}

}  // namespace velmorant::host
