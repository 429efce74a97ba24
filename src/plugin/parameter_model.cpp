#include "plugin/parameter_model.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "common/fp_safety.h"
#include "common/numeric.h"

namespace kf {

namespace {

// View groups that the mode choices switch; bit n of the mask's first word.
constexpr uint32_t bit(int n) {
    return 1u << n;
}
constexpr uint32_t kEffectGroups = bit(10) | bit(11) | bit(12) | bit(13) | bit(14);
constexpr uint32_t kCarrierGroups = bit(1) | bit(2) | bit(9);
constexpr uint32_t kModulatorGroups = bit(3) | bit(4) | bit(6) | bit(7) | bit(8) | bit(9);
constexpr int kOverlayBit = 5;  // panels follow the modes only while this is set
constexpr int kEditorBit = 0;   // set while the editor exists
constexpr int kSynthPanelBit = 3;

uint32_t groupPattern(int32_t t, int32_t choice) {
    switch (t) {
        case tag::effects_choice:
            return bit(10 + std::clamp(choice, 0, 4));
        case tag::carrier_mode:
            return choice == 3 ? bit(2) : bit(1);
        default:
            return choice == 2 ? bit(3) : bit(4);
    }
}

uint32_t governedGroups(int32_t t) {
    switch (t) {
        case tag::effects_choice:
            return kEffectGroups;
        case tag::carrier_mode:
            return kCarrierGroups;
        default:
            return kModulatorGroups;
    }
}

}  // namespace

ParameterModel::ParameterModel(Engine& engine, InsertEffects& effects) : engine_(engine), effects_(effects) {
    params_.wire();
}

void ParameterModel::setInitialValues() {
    for (const ParameterRow& row : kParameterRows)
        if (row.initial != kNoInitialValue) params_.record(row.tag)->value = row.initial;
}

void ParameterModel::set(int32_t t, float v) {
    // A non-finite value would poison every recursive filter it reaches for good.
    const ParameterRow* row = parameterRow(t);
    if (!std::isfinite(v) || !row || row->law.kind == Law::kNone) return;
    // Working values must not depend on the thread: the audio thread processes under
    // truncation, where a step like trunc(12 / 0.1) would land one step low.
    FpModeGuard nearest(FpRounding::kNearest);
    ParameterRecord& r = *params_.record(t);
    const float scaled = row->law(v);
    // Whole-word stores: the editor polls the record from its own thread meanwhile.
    std::atomic_ref<float>(r.value).store(v, std::memory_order_relaxed);
    std::atomic_ref<float>(r.scaled).store(scaled, std::memory_order_relaxed);
    std::atomic_ref<int32_t>(r.integer).store(truncToInt(scaled), std::memory_order_relaxed);
    if (row->sinks & kToEngine) engine_.applyParameter(t, v, scaled);
    if (row->sinks & kToEffects) effects_.setHostParameter(t, scaled);
    if (row->sinks & kToModes) applyModeRules(t);
    if (row->sinks & kToEditor) refresh_.request();
}

void ParameterModel::applyModeRules(int32_t t) {
    if (t == tag::watisndit) return applyOverlayBit();
    if (t == tag::carrier_mode || t == tag::modulator_mode) applyModeFlags(t);
    applyViewGroups(t);
}

void ParameterModel::applyModeFlags(int32_t t) {
    if (t == tag::carrier_mode) {
        const float flag = params_.at(t).integer == 3 ? 1.0f : 0.0f;
        if (flag != carrierFlag_) {
            carrierFlag_ = flag;
            set(tag::in_a, flag);
        }
    } else {
        const float flag = params_.at(t).integer == 2 ? 1.0f : 0.0f;
        if (flag != modulatorFlag_) {
            modulatorFlag_ = flag;
            set(tag::synthoff, flag);
            set(tag::in_b, flag);
        }
    }
}

void ParameterModel::applyViewGroups(int32_t t) {
    const uint32_t before = viewGroups_.word(0);
    uint32_t after = before & ~governedGroups(t);
    if (viewGroups_.test(kOverlayBit)) after |= groupPattern(t, params_.at(t).integer);
    viewGroups_.setWord(0, after);
    if ((before ^ after) & bit(kSynthPanelBit)) {
        resendCurrent(tag::in_b);
        resendCurrent(tag::synthoff);
    }
    refresh_.request();
}

void ParameterModel::applyOverlayBit() {
    const bool editorBit = viewGroups_.test(kEditorBit);
    if (editorBit != viewGroups_.test(kOverlayBit)) {
        viewGroups_.set(kOverlayBit, editorBit);
        resendCurrent(tag::effects_choice);
        resendCurrent(tag::carrier_mode);
        resendCurrent(tag::modulator_mode);
    }
    refresh_.request();
}

}  // namespace kf
