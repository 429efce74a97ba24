#include "plugin/parameter_model.h"

#include <cmath>

#include "common/fp_safety.h"
#include "common/numeric.h"

namespace kf {

ParameterModel::ParameterModel(Engine& engine, InsertEffects& effects) : engine_(engine), effects_(effects) {
    params_.wire();
}

void ParameterModel::setInitialValues() {
    for (const ParameterRow& row : kParameterRows)
        if (row.initial != kNoInitialValue) relaxedStore(params_.record(row.tag)->value, row.initial);
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
    relaxedStore(r.value, v);
    relaxedStore(r.scaled, scaled);
    relaxedStore(r.integer, truncToInt(scaled));
    if (row->sinks & kToEngine) engine_.applyParameter(t, v, scaled);
    if (row->sinks & kToEffects) effects_.setHostParameter(t, scaled);
    if (row->sinks & kToModes) applyModeRules(t);
    if (row->sinks & kToEditor) refresh_.request();
}

// The routing choices and the editor's page switch: each changes what the editor shows
// (which it derives from the choices itself), and a change of routing switches the stages
// that routing makes idle.
void ParameterModel::applyModeRules(int32_t t) {
    if (t == tag::carrier_mode || t == tag::modulator_mode) applyModeFlags(t);
    refresh_.request();
}

// A mode may be set on the host's thread and, through a learned controller, on the audio
// thread at once: the exchange hands each change of a flag to exactly one of them.
void ParameterModel::applyModeFlags(int32_t t) {
    if (t == tag::carrier_mode) {
        const float flag = relaxedLoad(params_.at(t).integer) == 3 ? 1.0f : 0.0f;
        if (carrierFlag_.exchange(flag, std::memory_order_relaxed) != flag) set(tag::in_a, flag);
    } else {
        const float flag = relaxedLoad(params_.at(t).integer) == 2 ? 1.0f : 0.0f;
        if (modulatorFlag_.exchange(flag, std::memory_order_relaxed) != flag) {
            set(tag::synthoff, flag);
            set(tag::in_b, flag);
        }
    }
}

}  // namespace kf
