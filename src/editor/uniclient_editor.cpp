#include "editor/uniclient_editor.h"

#include <utility>

#include "artwork/artwork.h"
#include "common/parameter_table.h"
#include "editor/layout.h"
#include "gui/view.h"

namespace kf::editor {

TMUniClientEditor::TMUniClientEditor(EditorHost& host, std::unique_ptr<platform::AsyncFileDialogs> dialogs)
    : host_(host), dialogs_(std::move(dialogs)), rect_{0, 0, kHeight, kWidth} {}

TMUniClientEditor::~TMUniClientEditor() {
    close();
}

gui::BitmapCache& TMUniClientEditor::sharedBitmaps() {
    static gui::BitmapCache cache([](int id) { return artwork::png(id); }, artwork::kFirstId,
                                  artwork::kLastId);
    return cache;
}

bool TMUniClientEditor::getRect(vst::ERect** rect) {
    *rect = &rect_;
    return true;
}

bool TMUniClientEditor::open(void* parentWindow) {
    if (isOpen()) return true;
    // X11 ids are 32-bit values handed over in a pointer; anything else is no window of ours.
    const auto id = reinterpret_cast<uintptr_t>(parentWindow);
    if (id == 0 || id > UINT32_MAX) return false;
    return openOn(gui::openX11Window(static_cast<uint32_t>(id), kWidth, kHeight));
}

bool TMUniClientEditor::openOn(std::unique_ptr<gui::PlatformWindow> window) {
    if (isOpen()) return true;
    if (!window) return false;
    sharedBitmaps().acquire();
    frame_ = std::make_unique<gui::Frame>(std::move(window), &sharedBitmaps());
    frame_->setBackground(kBackgroundBitmap);
    build();
    frame_->setIdleHook([this] { pickUpRefresh(); });
    // Set again with the editor present, these switch on the panels of the current mode and
    // effect choices (the model shows panels only while an editor exists).
    host_.setParameter(tag::in_a, host_.parameterValue(tag::in_a));
    host_.setParameter(tag::watisndit, host_.parameterValue(tag::watisndit));
    host_.takeRefresh();
    groups_ = host_.viewGroups();
    return true;
}

void TMUniClientEditor::build() {
    for (const LayoutRow& row : kLayout) {
        gui::View& view = frame_->add(std::make_unique<gui::ImageView>(row.rect, row.bitmap));
        view.setVisibility([this, group = row.group] { return groups_.test(group); });
    }
}

void TMUniClientEditor::close() {
    if (!frame_) return;
    // A dialog still open would answer into a window that is gone.
    dialogs_->cancel();
    frame_.reset();
    sharedBitmaps().release();
}

void TMUniClientEditor::idle() {
    if (!frame_) return;
    dialogs_->poll();
    frame_->idle();
}

void TMUniClientEditor::pickUpRefresh() {
    if (!host_.takeRefresh()) return;
    groups_ = host_.viewGroups();
    frame_->invalidateAll();
}

}  // namespace kf::editor
