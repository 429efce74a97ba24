// The effect base, the note-value set, the state registry and tempo listener wiring, and
// the plug-in's configuration helper.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "effect_test_support.h"
#include "effects/note_values.h"

namespace kf::test {
namespace {

TEST(NoteValues, FullListIsExactlyTheDisplayedLengths) {
    const NoteValueList& list = sharedNoteValues().list(0);
    const std::pair<const char*, double> expected[] = {
        {"Off", 0},       {"4 bars", 16},  {"3 bars", 12},    {"2 bars", 8},
        {"1.5 bars", 6},  {"bar", 4},      {"3//4 bar", 3},   {"1//2 bar", 2},
        {"3//8", 1.5},    {"1\\4", 1},     {"3//16", 0.75},   {"1//8", 0.5},
        {"3//32", 0.375}, {"1//16", 0.25}, {"3//64", 0.1875}, {"1//32", 0.125},
    };
    ASSERT_EQ(list.count, 16);
    for (int32_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(list.at(i).name, expected[i].first) << i;
        EXPECT_EQ(list.at(i).beats, expected[i].second) << i;
    }
    EXPECT_EQ(&sharedNoteValues().list(99), &sharedNoteValues().list(0));  // an unknown list is the full one
}

// A bare effect shows the base behaviour.
class BareEffect : public TMEffect {
  public:
    BareEffect(TMSystemInfo* info) : TMEffect(1, info, 3) {}
    void addRegion(void* p, uint32_t bytes) { registerRegion(p, bytes); }
};

TEST(EffectBase, EqualPowerMixAndBoundedIndices) {
    TMSystemInfo info;
    BareEffect fx(&info);
    EXPECT_EQ(fx.dryGain(), 0.70710677f);  // the initial mix of 0.5
    EXPECT_EQ(fx.wetGain(), 0.70710677f);
    fx.setDryWet(0.25f);
    fx.takeParameters();
    EXPECT_EQ(fx.wetGain(), 0.5f);
    EXPECT_FLOAT_EQ(fx.dryGain(), std::sqrt(0.75f));
    fx.setDryWet(2.0f);  // out of range: clamped, never a NaN gain
    fx.takeParameters();
    EXPECT_EQ(fx.dryGain(), 0.0f);

    // Out-of-range indices never write outside the value array.
    fx.setParameter(3, 0.9f);
    fx.setParameter(-1, 0.9f);
    EXPECT_EQ(fx.parameterValue(3), 0.0f);
}

TEST(EffectBase, RegionsFollowTheRegistryAndLeaveWithTheEffect) {
    TMSystemInfo info;
    StateRegistry first, second;
    info.stateRegistry = &first;
    float region[4] = {1, 2, 3, 4};
    {
        BareEffect fx(&info);
        fx.addRegion(region, sizeof region);
        ASSERT_EQ(first.regions().size(), 1u);
        fx.setStateRegistry(&second);
        EXPECT_TRUE(first.regions().empty());
        ASSERT_EQ(second.regions().size(), 1u);
        EXPECT_EQ(second.regions()[0].start, region);
    }
    EXPECT_TRUE(second.regions().empty());
}

TEST(InsertEffectsWiring, RegistersStateAndListenersAndRemovesThemAgain) {
    TMSystemInfo info;
    StateRegistry registry;
    TempoListeners listeners;
    info.stateRegistry = &registry;
    info.tempoListeners = &listeners;
    {
        InsertEffects fx(&info);
        EXPECT_EQ(listeners.size(), 2u);  // delay, then phaser
        EXPECT_GE(registry.regions().size(), 15u);
        EXPECT_EQ(fx.forChoice(kNoEffectChoice), nullptr);
        EXPECT_EQ(fx.forChoice(kPhaserChoice), &fx.phaser);
        EXPECT_EQ(fx.forChoice(5), nullptr);
        EXPECT_FALSE(fx.setHostParameter(tag::reverb_room - 1, 0.5f));
        EXPECT_FALSE(fx.setHostParameter(tag::lofi_distortion + 1, 0.5f));
    }
    EXPECT_TRUE(registry.regions().empty());
    EXPECT_EQ(listeners.size(), 0u);
}

// A parameter or mix set on any thread reaches the working state only when the effect next
// runs on the audio thread, never while another thread sets it.
TEST(InsertEffectsWiring, ValuesSetWaitForTheEffectsNextBlock) {
    Rig rig;
    InsertEffects& fx = *rig.effects;
    const struct {
        TMEffect* effect;
        int32_t index;
        std::function<float()> working;
    } cases[] = {
        {&fx.reverb, 1, [&] { return fx.reverb.wetSame(); }},
        {&fx.delay, 0, [&] { return static_cast<float>(fx.delay.delayLength()); }},
        {&fx.phaser, 3, [&] { return static_cast<float>(fx.phaser.stages()); }},
        {&fx.lofi, 0, [&] { return fx.lofi.quantisationStep(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.effect->name());
        const float working = c.working(), wet = c.effect->wetGain();
        c.effect->setParameter(c.index, 0.9f);
        c.effect->setDryWet(0.3f);
        EXPECT_EQ(c.working(), working);
        EXPECT_EQ(c.effect->wetGain(), wet);
        std::vector<float> left(32, 0.0f), right(32, 0.0f);
        c.effect->process(left.data(), right.data(), 32);
        EXPECT_NE(c.working(), working);
        EXPECT_NE(c.effect->wetGain(), wet);
    }
}

// Full host feedback stays below each effect's stability limit.
TEST(InsertEffectsWiring, HostFeedbackStaysBelowTheStabilityLimits) {
    Rig rig;
    rig.setKnob(tag::delay_feedback, 1.0f);
    rig.setKnob(tag::phaser_feedback, 1.0f);
    EXPECT_FLOAT_EQ(rig.effects->delay.feedback(), 0.98f);
    EXPECT_FLOAT_EQ(rig.effects->delay.width(), 1.0f);  // the feedback knob also sets the width
    EXPECT_FLOAT_EQ(rig.effects->phaser.feedback(), 0.765f);
}

}  // namespace
}  // namespace kf::test
