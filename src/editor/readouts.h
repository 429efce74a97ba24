// What each readout of the panel shows: a musician's number and unit for its parameter's
// value, worked out from what the value does rather than from the raw 0..1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "editor/editor_host.h"

namespace kf::editor {

// The text of readout `tag` for the stored value `v` of the parameter it shows, `source`
// (clamped to 0..1 first, as the engine takes it); "" for a tag that is no readout.
// `text` holds `size` bytes and is always terminated.
void readoutText(int32_t tag, int32_t source, float v, const EditorHost& host, char* text, std::size_t size);

}  // namespace kf::editor
