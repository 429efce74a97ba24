// The render tool's editor modes (--editor, --editor-shot, --editor-script): the plug-in's
// editor in a window of the desktop (EditorWindow: X11 or Win32, as the build chooses) while an
// audio thread feeds the plug-in its inputs.
#pragma once

#include <optional>
#include <vector>

#include "host/editor_script.h"
#include "host/render.h"
#include "host/render_tool_options.h"
#include "host/vst_host.h"

namespace kf::host {

// Runs the mode the options ask for; nothing when it ended as it should.
std::optional<Failure> runEditorMode(Plugin& plugin, const RenderOptions& o,
                                     std::vector<std::vector<float>> inputs, const RenderSettings& settings,
                                     const EditorScript& script);

}  // namespace kf::host
