// The Windows build of the tool has no editor window of its own yet: the editor modes are
// refused with a reason instead of rendering without the editor that was asked for.
#include "host/render_tool_editor.h"

namespace kf::host {

std::optional<Failure> runEditorMode(Plugin&, const RenderOptions&, std::vector<std::vector<float>>,
                                     const RenderSettings&, const EditorScript&) {
    return Failure{kExitNoDisplay,
                   "this Windows build of the tool cannot show an editor (--editor, --editor-shot and "
                   "--editor-script need the Linux build)"};
}

}  // namespace kf::host
