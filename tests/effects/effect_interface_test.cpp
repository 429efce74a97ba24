// The effect base, the note-value set, the state registry and tempo listener wiring, and
// the plug-in's configuration helper.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
    EXPECT_EQ(list.countFloat, 16.0f);
    EXPECT_EQ(list.inverseCount, 0.0625f);
    for (int32_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(list.at(i).name, expected[i].first) << i;
        EXPECT_EQ(list.at(i).beats, expected[i].second) << i;
    }
    EXPECT_EQ(std::strlen(list.at(9).name), 3u);  // one backslash
    EXPECT_EQ(&sharedNoteValues().list(99), &sharedNoteValues().list(0));
}

// A bare effect shows the base behaviour.
class BareEffect : public TMEffect {
  public:
    BareEffect(TMSystemInfo* info) : TMEffect(1, info, 3) {}
    void addRegion(void* p, uint32_t bytes) { registerRegion(p, bytes); }
};

TEST(EffectBase, DefaultsNamesAndMixLaw) {
    TMSystemInfo info;
    BareEffect fx(&info);
    char text[32];
    EXPECT_STREQ(fx.name(), "TMEffect unspecified");
    fx.getParameterName(0, text);
    EXPECT_STREQ(text, "no name set");
    fx.getParameterName(3, text);
    EXPECT_STREQ(text, "unused");
    EXPECT_EQ(fx.getParameterDefault(2), 0.5f);
    EXPECT_EQ(fx.getParameterDefault(3), 0.0f);
    EXPECT_EQ(fx.mix(), 0.5f);
    EXPECT_EQ(fx.dryGain(), 0.70710677f);
    EXPECT_EQ(fx.wetGain(), 0.70710677f);
    fx.getParameterDisplay(0, 0.5f, text);
    EXPECT_STREQ(text, "0.500000");

    fx.setDryWet(0.25f);
    EXPECT_EQ(fx.wetGain(), 0.5f);
    EXPECT_FLOAT_EQ(fx.dryGain(), std::sqrt(0.75f));
    fx.setDryWet(2.0f);  // out of range: clamped, never a NaN gain
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
        EXPECT_EQ(fx.reverb.ownerTag(), 155);
        EXPECT_EQ(fx.delay.ownerTag(), 158);
        EXPECT_EQ(fx.phaser.ownerTag(), 160);
        EXPECT_EQ(fx.lofi.ownerTag(), 159);
        EXPECT_EQ(fx.forChoice(kNoEffectChoice), nullptr);
        EXPECT_EQ(fx.forChoice(kPhaserChoice), &fx.phaser);
        EXPECT_EQ(fx.forChoice(5), nullptr);
        // The fixed initial configuration.
        EXPECT_EQ(fx.phaser.rateMode(), TMPhaser::kSyncedRate);
        EXPECT_EQ(fx.phaser.mixTarget(), 1.0f);
        EXPECT_EQ(fx.lofi.wetGain(), 1.0f);
        EXPECT_EQ(fx.lofi.dryGain(), 0.0f);
        EXPECT_EQ(fx.lofi.noiseAmount(), 0.0f);
    }
    EXPECT_TRUE(registry.regions().empty());
    EXPECT_EQ(listeners.size(), 0u);
}

TEST(InsertEffectsWiring, HostMappingOfTheEffectKnobs) {
    EXPECT_FLOAT_EQ(hostfx::delayTimeFromHost(0.0f), 0.025f);
    EXPECT_FLOAT_EQ(hostfx::delayTimeFromHost(0.5f), 0.5f);
    EXPECT_FLOAT_EQ(hostfx::delayTimeFromHost(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(hostfx::phaserRateFromHost(1.0f), 1.0f);
    EXPECT_EQ(hostfx::phaserRateFromHost(0.024f), 0.0f);
    EXPECT_FLOAT_EQ(hostfx::dryWetFromHost(0.5f), 0.125f);

    Rig rig;
    EXPECT_FALSE(rig.effects->setHostParameter(29, 0.5f));
    EXPECT_FALSE(rig.effects->setHostParameter(42, 0.5f));
    rig.setKnob(hostfx::kDamp, 0.2f);
    EXPECT_FLOAT_EQ(rig.effects->reverb.parameterValue(3), 0.8f);
    rig.setKnob(hostfx::kDelayFeedback, 0.4f);
    EXPECT_FLOAT_EQ(rig.effects->delay.feedback(), 0.98f * 0.4f);
    EXPECT_FLOAT_EQ(rig.effects->delay.width(), 0.4f);
    rig.setKnob(hostfx::kSamplerate, 0.6f);
    EXPECT_EQ(rig.effects->lofi.holdLength(), 12);
}

}  // namespace
}  // namespace kf::test
