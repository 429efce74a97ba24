// What the plug-in instance reads from the settings store when it is constructed, and the
// first-run set-up that writes the default folders.
#pragma once

#include <string>

#include "platform/settings_store.h"

namespace kf {

// Value names in the settings store.
namespace setting {
inline constexpr const char* kInstallPath = "installpath";
inline constexpr const char* kFirstUse = "firstuse";
inline constexpr const char* kContentPath = "contentpath";
inline constexpr const char* kPresetPath0 = "presetpath0";
inline constexpr const char* kPresetPath = "presetpath";
inline constexpr const char* kPresetSavePath0 = "presetsavepath0";
inline constexpr const char* kAudioFilePath = "audiofilepath";
inline constexpr const char* kSamplePath = "Samplepath";
inline constexpr const char* kIgnoreProgramChange = "ignorePrgChange";
inline constexpr const char* kCcMapRecallIsolate = "CC Map Recall isolate";
}  // namespace setting

// The values the instance holds after start-up.
struct StartupSettings {
    float ignoreProgramChange = 1.0f;  // not 0: MIDI program changes are ignored
    float ccMapRecallIsolate = 0.0f;   // not 0: loading a preset file keeps the learn maps
    std::string installPath;           // folder of the bundle (manual), ends in '/'; may be empty
    std::string presetPath;            // "presetpath0": folder of the default preset and the menus
    std::string presetSavePath;        // "presetsavepath0": where the user's presets are saved
    bool firstRun = false;             // the first-run set-up ran in this call
};

// Start-up, run once per instance at construction:
//  - "installpath" becomes moduleFolder (made absolute) whenever it differs, so it names
//    the bundle this instance was loaded from, not the first one ever used;
//  - when "firstuse" is missing or 0 the first-run set-up runs: "firstuse" = 1, the preset,
//    preset-save and sample folders under "contentpath" (the install path when missing),
//    "ignorePrgChange" = 1, "CC Map Recall isolate" = 0;
//  - a missing "presetpath0" is filled from "presetpath" (or the empty text);
//  - the three folders then follow the bundle: without a "contentpath", a folder that was
//    derived from the previous install path moves with the install path; a preset or
//    sample folder that does not exist falls back to the bundle's, else to one under
//    userData; a save folder that cannot be written (a bundle in a system folder, or a
//    lone module) falls back to userData's "Presets/User/". Folders under userData are
//    created when they are chosen.
// All reads and writes happen in one locked update of the store, so an instance
// constructed at the same time sees either none or all of them, and a store that already
// holds every value is not written at all.
StartupSettings runSettingsStartup(platform::SettingsStore& store, const std::string& moduleFolder,
                                   const std::string& userData);

// The same with the folder that holds this library and the user's data folder.
StartupSettings runSettingsStartup(platform::SettingsStore& store);

// The manual of the bundle that holds this library.
std::string manualPathOfThisModule();

}  // namespace kf
