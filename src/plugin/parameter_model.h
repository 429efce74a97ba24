// The parameter model: every parameter record, and the one routine through which the host,
// the editor, programs, chunks and MIDI learn change a value. Each value goes where its row
// of the parameter table sends it (engine, insert effects, the mode rules, an editor
// refresh); the mode rules keep the dependent values in step with the routing choices.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/editor_refresh.h"
#include "common/parameter_table.h"
#include "effects/insert_effects.h"
#include "engine/engine.h"
#include "plugin/parameters.h"

namespace kf {

class ParameterModel {
  public:
    ParameterModel(Engine& engine, InsertEffects& effects);

    // Stores v as the tag's normalised value, computes its working value by the table's law
    // and hands both on. Non-finite values and tags without a law change nothing.
    void set(int32_t tag, float v);
    // The values the table gives before any program (records only).
    void setInitialValues();

    ParameterSet& parameters() { return params_; }
    const ParameterSet& parameters() const { return params_; }
    EditorRefresh& refresh() { return refresh_; }
    const EditorRefresh& refresh() const { return refresh_; }

  private:
    void applyModeRules(int32_t tag);
    void applyModeFlags(int32_t tag);

    Engine& engine_;
    InsertEffects& effects_;
    ParameterSet params_;
    EditorRefresh refresh_;
    // Last values of the mode flags, so a dependent value follows only a change.
    std::atomic<float> carrierFlag_{0.0f};
    std::atomic<float> modulatorFlag_{0.0f};
};

}  // namespace kf
