// The dispatcher's plumbing between host opcodes and virtual operations.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "vst/audioeffect.h"

namespace {

using namespace vst;

struct Probe : AudioEffectX {
    explicit Probe(AudioMasterCallback m, bool* destroyed = nullptr)
        : AudioEffectX(m, 3, 2), destroyed_(destroyed) {
        setNumInputs(2);
    }
    ~Probe() override {
        if (destroyed_) *destroyed_ = true;
    }
    void processReplacing(float** in, float** out, int32_t n) noexcept override {
        for (int32_t i = 0; i < n; ++i) {
            out[0][i] = in[0][i] * 2.0f;
            out[1][i] = 1.0f;
        }
    }
    int32_t getChunk(void** data, bool isPreset) override {
        *data = chunk;
        lastPreset = isPreset;
        return static_cast<int32_t>(sizeof chunk);
    }
    int32_t setChunk(void* data, int32_t size, bool isPreset) override {
        if (size == 0) throw std::bad_alloc();
        received.assign(static_cast<char*>(data), static_cast<char*>(data) + size);
        lastPreset = isPreset;
        return 1;
    }
    void getParameterName(int32_t, char* text) override {
        std::memset(text, 'n', 300);  // longer than any host buffer
        text[300] = 0;
    }
    // Operations that fail the way allocating code does.
    void setParameter(int32_t, float) override { throw std::bad_alloc(); }
    float getParameter(int32_t) override { throw std::bad_alloc(); }
    void close() override { throw std::bad_alloc(); }
    char chunk[12] = "chunk bytes";
    std::vector<char> received;
    bool lastPreset = false;
    bool* destroyed_;
};

intptr_t silentHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

intptr_t call(AEffect* e, int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
              float opt = 0) {
    return e->dispatcher(e, op, index, value, ptr, opt);
}

// No exception crosses the C boundary; what cannot be answered is 0.
TEST(Dispatcher, FailuresAndUnknownsAnswerZero) {
    Probe p(silentHost);
    AEffect* e = p.getAeffect();
    EXPECT_EQ(call(e, 9999), 0);
    EXPECT_EQ(call(e, effEditGetRect, 0, 0, nullptr), 0);  // no editor attached
    char bytes[1] = {};
    EXPECT_EQ(call(e, effSetChunk, 0, 0, bytes), 0);  // throws inside
    EXPECT_NO_THROW(e->setParameter(e, 0, 0.5f));
    EXPECT_EQ(e->getParameter(e, 0), 0.0f);

    Probe bare(nullptr);
    EXPECT_EQ(bare.callHost(audioMasterVersion), 0);
}

TEST(Dispatcher, ChunksPassAddressSizeAndKind) {
    Probe p(silentHost);
    void* data = nullptr;
    EXPECT_EQ(call(p.getAeffect(), effGetChunk, 1, 0, &data), 12);
    EXPECT_EQ(data, p.chunk);
    EXPECT_TRUE(p.lastPreset);
    char bytes[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(call(p.getAeffect(), effSetChunk, 0, 5, bytes), 1);
    EXPECT_EQ(p.received.size(), 5u);
    EXPECT_FALSE(p.lastPreset);
    EXPECT_EQ(call(p.getAeffect(), effSetChunk, 0, -4, bytes), 0);
    EXPECT_EQ(call(p.getAeffect(), effGetChunk, 0, 0, nullptr), 0);
}

TEST(Dispatcher, StringAnswersNeverOverrunTheBound) {
    Probe p(silentHost);
    char text[64];
    std::memset(text, '#', sizeof text);
    call(p.getAeffect(), effGetParamName, 0, 0, text);
    EXPECT_EQ(std::strlen(text), kParamStringBound - 1);
    EXPECT_EQ(text[kParamStringBound], '#');
    EXPECT_EQ(call(p.getAeffect(), effGetParamName, 0, 0, nullptr), 0);
}

TEST(Dispatcher, AccumulatingProcessAddsToTheOutputs) {
    Probe p(silentHost);
    AEffect* e = p.getAeffect();
    std::vector<float> inL(700, 0.25f), inR(700, 0.0f), outL(700, 1.0f), outR(700, 0.5f);
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    e->process(e, in, out, 700);  // spans several internal blocks
    EXPECT_EQ(outL, std::vector<float>(700, 1.5f));
    EXPECT_EQ(outR, std::vector<float>(700, 1.5f));
}

TEST(Dispatcher, CloseDestroysTheInstanceEvenWhenClosingFails) {
    bool destroyed = false;
    auto* p = new Probe(silentHost, &destroyed);
    EXPECT_EQ(call(p->getAeffect(), effClose), 1);
    EXPECT_TRUE(destroyed);
}

}  // namespace
