// The library's only exported symbols: the entry point under both names hosts look for.
#include "plugin/default_preset.h"
#include "plugin/uniclient.h"

namespace {

// No exception may reach the host: the constructor allocates megabytes of tables and
// buffers and reads files, and a host that gets no instance simply reports the plug-in as
// unavailable.
vst::AEffect* createInstance(vst::AudioMasterCallback master) noexcept {
    try {
        if (!master || master(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        return (new kf::TMUniClient(master, {.builtInDefaultPreset = kf::builtInDefaultPreset()}))
            ->getAeffect();
    } catch (...) {
        return nullptr;
    }
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
