// A build for a platform without the editor's window and drawing: the instance attaches no
// editor, so the host is told there is none (no effFlagsHasEditor; effEditOpen answers 0).
#include "plugin/editor_link.h"

namespace kf {

std::unique_ptr<EditorAdapter> EditorLink::createEditor(platform::FileDialogs*) {
    return nullptr;
}

}  // namespace kf
