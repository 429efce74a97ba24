#include "plugin/editor_adapter.h"

#include <utility>

namespace kf {

namespace {

vst::ERect toERect(const gui::Rect& r) {
    return {static_cast<int16_t>(r.top), static_cast<int16_t>(r.left), static_cast<int16_t>(r.bottom),
            static_cast<int16_t>(r.right)};
}

}  // namespace

EditorAdapter::EditorAdapter(std::unique_ptr<editor::TMUniClientEditor> editor)
    : editor_(std::move(editor)), rect_(toERect(editor::TMUniClientEditor::bounds())) {}

bool EditorAdapter::getRect(vst::ERect** rect) {
    *rect = &rect_;
    return true;
}

}  // namespace kf
