// What the fake test plug-in saw, read by the tests through a vendor-specific dispatcher
// call. Plain data so the plug-in library and the test program agree on the layout.
#pragma once

#include <cstdint>

#include "vst/aeffect.h"

namespace fake {

// effVendorSpecific index values the fake understands.
constexpr int32_t kGetLog = vst::fourCC('l', 'o', 'g', ' ');  // returns the FakeLog*
// Makes the fake report an edit of parameter 0 (begin, automate to `opt`, end) and call
// the host's vendor-specific opcode with index 7, value 9, opt 0.25; returns the answer.
constexpr int32_t kEdit = vst::fourCC('e', 'd', 'i', 't');

constexpr int kMaxBlocks = 4096;
constexpr int kMaxEvents = 256;
constexpr int kMaxOpcodes = 256;

// What the fake asks audioMasterGetTime for in every block: no nanoseconds, so the
// tests can check the host fills only what was requested.
constexpr int32_t kTimeRequest =
    vst::kVstPpqPosValid | vst::kVstTempoValid | vst::kVstBarsValid | vst::kVstTimeSigValid;

struct BlockTime {
    bool present;  // the host answered the time query
    double samplePos, ppqPos, tempo, barStartPos;
    int32_t flags, timeSigNumerator, timeSigDenominator;
};

struct Event {
    int32_t block;  // the processing call it arrived before
    int32_t deltaFrames;
    uint8_t data[3];
};

struct FakeLog {
    // Asked inside the entry point, before the host has the effect record.
    char hostVendor[80];
    char hostProduct[80];
    intptr_t hostVersion;
    intptr_t processLevelInProcess;  // audioMasterGetCurrentProcessLevel during the last block

    int32_t numOpcodes;  // dispatcher calls except the fake's own vendor-specific ones
    int32_t opcodes[kMaxOpcodes];

    int32_t numBlocks;
    int32_t blockFrames[kMaxBlocks];
    BlockTime times[kMaxBlocks];

    int32_t numEvents;
    Event events[kMaxEvents];
};

}  // namespace fake
