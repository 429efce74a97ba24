// The render tool's editor modes (--editor, --editor-shot, --editor-script): the plug-in's
// editor in a window of the desktop while an audio thread feeds the plug-in its inputs.
// render_tool_editor.cpp shows it in an X11 window; a build whose tool has no editor window
// refuses these modes with a failure that says so.
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
