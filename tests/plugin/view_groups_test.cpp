// Which panels the mode choices show, and the values that follow the synth panel.
#include <gtest/gtest.h>

#include "fake_host.h"

namespace kf::test {
namespace {

uint32_t bit(int n) {
    return 1u << n;
}

class ViewGroups : public ::testing::Test {
  protected:
    void SetUp() override { c = makeInstance(host); }
    uint32_t mask() const { return c->viewGroups().word(0); }
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(ViewGroups, AfterConstructionThePanelsFollowTheInitialModes) {
    // Editor bit, overlay bit, sampler panel (carrier 3), input stage 2 panel (modulator 0),
    // and the "no effect" panel.
    EXPECT_EQ(mask(), bit(0) | bit(5) | bit(2) | bit(4) | bit(10));
}

TEST_F(ViewGroups, EachChoiceShowsItsOwnPattern) {
    c->setParameter(tag::effects_choice, 0.6f);  // 3.001 -> phaser
    EXPECT_EQ(mask() & 0x7C00u, bit(13));
    c->setParameter(tag::carrier_mode, 0.0f);
    EXPECT_EQ(mask() & (bit(1) | bit(2) | bit(9)), bit(1));
    c->setParameter(tag::modulator_mode, 1.0f);
    EXPECT_EQ(mask() & (bit(3) | bit(4) | bit(6) | bit(7) | bit(8) | bit(9)), bit(3));
}

TEST_F(ViewGroups, WithoutTheOverlayBitTheGovernedGroupsAreHidden) {
    const uint32_t refreshes = c->editorRefresh().requests();
    c->viewGroups().set(0, false);
    c->setParameter(tag::watisndit, 0.0f);  // bit 0 clear, bit 5 set: bit 5 goes
    EXPECT_EQ(mask(), 0u);
    EXPECT_GT(c->editorRefresh().requests(), refreshes);
    c->setParameter(tag::effects_choice, 1.0f);
    EXPECT_EQ(mask(), 0u);
    c->viewGroups().set(0, true);
    c->setParameter(tag::watisndit, 1.0f);  // and back: the patterns return
    EXPECT_EQ(mask(), bit(0) | bit(5) | bit(2) | bit(4) | bit(14));
}

TEST_F(ViewGroups, HidingTheSynthPanelResendsTheStageSwitches) {
    c->setParameter(tag::modulator_mode, 1.0f);  // synth panel (bit 3) shown, stage 2 frozen
    ASSERT_TRUE(c->engine().inputStage2().frozen());
    // Make the engine disagree with the stored switch; a panel change must re-send it.
    c->engine().setInB(false);
    c->setParameter(tag::modulator_mode, 1.0f);  // bit 3 unchanged: nothing re-sent
    EXPECT_FALSE(c->engine().inputStage2().frozen());
    c->viewGroups().set(0, false);
    c->setParameter(tag::watisndit, 0.0f);  // overlay off: bit 3 is cleared
    EXPECT_FALSE(c->viewGroups().test(3));
    EXPECT_TRUE(c->engine().inputStage2().frozen());
}

}  // namespace
}  // namespace kf::test
