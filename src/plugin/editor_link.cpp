#include "plugin/editor_link.h"

#include "editor/uniclient_editor.h"
#include "platform/async_file_dialogs.h"
#include "plugin/uniclient.h"

namespace kf {

std::unique_ptr<vst::AEffEditor> EditorLink::createEditor(platform::FileDialogs* dialogs) {
    std::unique_ptr<platform::AsyncFileDialogs> async;
    if (dialogs)
        async = std::make_unique<platform::PolledFileDialogs>(*dialogs);
    else
        async = std::make_unique<platform::SpawnedFileDialogs>();
    return std::make_unique<editor::TMUniClientEditor>(*this, std::move(async));
}

float EditorLink::parameterValue(int32_t tag) const {
    return instance_.parameters().value(tag);
}

void EditorLink::setParameter(int32_t tag, float value) {
    instance_.setParameter(tag, value);
}

ViewGroupMask EditorLink::viewGroups() const {
    return instance_.viewGroups();
}

bool EditorLink::takeRefresh() {
    return instance_.editorRefresh().consume();
}

}  // namespace kf
