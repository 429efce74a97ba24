// The instance's editor, on a platform that has the editor's window and drawing.
#include "platform/async_file_dialogs.h"
#include "plugin/editor_adapter.h"
#include "plugin/editor_link.h"

namespace kf {

std::unique_ptr<EditorAdapter> EditorLink::createEditor(platform::FileDialogs* dialogs) {
    std::unique_ptr<platform::AsyncFileDialogs> async;
    if (dialogs)
        async = std::make_unique<platform::PolledFileDialogs>(*dialogs);
    else
        async = platform::makeDesktopAsyncFileDialogs();
    return std::make_unique<EditorAdapter>(
        std::make_unique<editor::TMUniClientEditor>(ports(), std::move(async)));
}

}  // namespace kf
