// Host chunks and preset files are bytes from outside: neither may crash the instance,
// read outside what it was given, or leave it in a state that cannot be written again.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "plugin/uniclient.h"
#include "support/recording_message_service.h"
#include "support/scripted_file_dialogs.h"
#include "support/temp_files.h"

namespace {

kf::platform::RecordingMessageService messages;
kf::platform::ScriptedFileDialogs dialogs;

// One private folder for the run's settings and preset file, removed when the run ends
// (libFuzzer leaves through exit(), which runs static destructors).
kf::test::TempDir scratch;

kf::TMUniClient& instance() {
    static kf::TMUniClient* c = [] {
        setenv("KESTRAFONE_SETTINGS_DIR", (scratch.path().string() + "/settings").c_str(), 1);
        return new kf::TMUniClient(nullptr, kf::PluginServices{&messages, &dialogs});
    }();
    return *c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kf::TMUniClient& c = instance();
    messages.clear();
    if (size > 0 && (data[0] & 1)) {
        // As a preset file.
        static const std::string path = scratch.path().string() + "/preset.kfn";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data + 1, 1, size - 1, f);
            std::fclose(f);
            c.loadPresetFile(path);
        }
    } else {
        std::string copy(reinterpret_cast<const char*>(data), size);
        c.setChunk(copy.data(), static_cast<int32_t>(copy.size()), false);
    }
    // Whatever happened, the state still writes out and reads back.
    void* out = nullptr;
    const int32_t bytes = c.getChunk(&out, false);
    if (bytes <= 0 || c.setChunk(out, bytes, false) != 1) {
        for (const std::string& m : messages.messages()) std::fprintf(stderr, "message: %s\n", m.c_str());
        __builtin_trap();
    }
    return 0;
}
