// The library's only exported symbols: the entry point under both names hosts look for.
#include <new>

#include "plugin/default_preset.h"
#include "plugin/uniclient.h"

namespace {

vst::AEffect* createInstance(vst::AudioMasterCallback master) {
    if (!master || master(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* instance =
        new (std::nothrow) kf::TMUniClient(master, {.builtInDefaultPreset = kf::builtInDefaultPreset()});
    return instance ? instance->getAeffect() : nullptr;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) vst::AEffect* VSTPluginMain(vst::AudioMasterCallback master) {
    return createInstance(master);
}

// C++ reserves the name main, so the second export is an assembler label on another name.
__attribute__((visibility("default"))) vst::AEffect* kfLegacyMain(vst::AudioMasterCallback master) asm(
    "main");
vst::AEffect* kfLegacyMain(vst::AudioMasterCallback master) {
    return createInstance(master);
}
}
