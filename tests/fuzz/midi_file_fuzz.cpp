// Feeds arbitrary bytes to the Standard MIDI File reader: it must refuse them with a reason
// or return what a plug-in can take: channel messages in frame order and a usable tempo map.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/midi_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kf::host::MidiFileContents c;
    std::string error;
    if (!kf::host::parseMidiFile({data, size}, 44100.0, std::nullopt, c, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (c.tempoMap.empty() || c.tempoMap[0].frame != 0) std::abort();
    for (size_t i = 0; i < c.tempoMap.size(); ++i)
        if (!(std::isfinite(c.tempoMap[i].bpm) && c.tempoMap[i].bpm > 0.0) ||
            (i > 0 && c.tempoMap[i].frame <= c.tempoMap[i - 1].frame))
            std::abort();
    for (size_t i = 0; i < c.events.size(); ++i) {
        const auto& e = c.events[i];
        if (e.data[0] < 0x80 || e.data[0] >= 0xF0 || e.data[1] >= 0x80 || e.data[2] >= 0x80) std::abort();
        if (e.frame < (i > 0 ? c.events[i - 1].frame : 0)) std::abort();
    }
    return 0;
}
