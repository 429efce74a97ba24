// What the editor may ask of the plug-in instance that owns it. The editor sees parameters
// and a few named operations only, never the engine or the instance's other parts, so it
// can be driven (and tested) through this interface alone.
#pragma once

#include <cstdint>

#include "common/view_groups.h"

namespace kf::editor {

class EditorHost {
  public:
    virtual ~EditorHost() = default;

    // The normalised value (0..1) of a parameter or internal control, by tag (0..125).
    virtual float parameterValue(int32_t tag) const = 0;
    // Sets a value through the parameter model, as a host or a program would, by tag.
    virtual void setParameter(int32_t tag, float value) = 0;
    // The groups of controls to show now (bit n: group n).
    virtual ViewGroupMask viewGroups() const = 0;
    // True once after the parameters or the groups changed in a way the editor must show;
    // the editor asks at each idle while it is open.
    virtual bool takeRefresh() = 0;
};

}  // namespace kf::editor
