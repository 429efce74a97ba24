#include "editor/uniclient_editor.h"

#include <utility>

#include "artwork/artwork.h"
#include "common/parameter_table.h"
#include "editor/controls.h"
#include "editor/keyboard_view.h"
#include "editor/notice.h"
#include "editor/preset_menu.h"
#include "editor/readouts.h"
#include "editor/sample_view.h"
#include "gui/view.h"

namespace kf::editor {

TMUniClientEditor::TMUniClientEditor(EditorHost& host, std::unique_ptr<platform::AsyncFileDialogs> dialogs)
    : host_(host),
      dialogs_(std::move(dialogs)),
      runner_(*dialogs_),
      rect_{0, 0, kHeight, kWidth},
      learn_(host) {}

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
    // X11 ids are 32-bit values handed over in a pointer; anything else is no window of ours.
    const auto id = reinterpret_cast<uintptr_t>(parentWindow);
    const bool usable = id != 0 && id <= UINT32_MAX;
    if (isOpen()) {
        if (!usable || id == parent_) return true;
        // A host that moves the editor to another window of its own: follow it there.
        close();
    }
    if (!usable || !openOn(gui::openX11Window(static_cast<uint32_t>(id), kWidth, kHeight))) return false;
    parent_ = static_cast<uint32_t>(id);
    return true;
}

bool TMUniClientEditor::openOn(std::unique_ptr<gui::PlatformWindow> window) {
    if (isOpen()) return true;
    if (!window) return false;
    sharedBitmaps().acquire();
    frame_ = std::make_unique<gui::Frame>(std::move(window), &sharedBitmaps());
    frame_->setBackground(kBackgroundBitmap);
    build();
    frame_->setIdleHook([this] { onIdle(); });
    host_.takeRefresh();
    pollValues();
    return true;
}

namespace {

// Host parameters report to the host as automation; the rest are the instance's own.
bool isHostParameter(int32_t tag) {
    return tag >= 0 && tag < kNumHostParameters;
}

// The strip position of a knob whose working value is shown between a and b.
std::function<float(float)> boundPosition(const LayoutRow& row) {
    const ParameterRow* parameter = parameterRow(row.tag);
    if (row.a == row.b || !parameter) return {};
    return [law = parameter->law, a = row.a, b = row.b](float v) { return (law(v) - b) / (a - b); };
}

}  // namespace

void TMUniClientEditor::build() {
    placed_.clear();
    gui::ControlListener* listener = this;
    for (const LayoutRow& row : kLayout) {
        std::unique_ptr<gui::View> view;
        switch (row.kind) {
            case ControlKind::Image:
                view = std::make_unique<gui::ImageView>(row.rect, row.bitmap);
                break;
            case ControlKind::Knob: {
                auto knob = std::make_unique<Knob>(row, artwork::frameCount(row.bitmap), listener,
                                                   boundPosition(row));
                knob->setDefaultValue(host_.defaultValue(row.tag));
                if (row.tag == tag::waveform) knob->setSensitivity(0.25f);
                if (row.tag == tag::pitchbend) knob->setSpringBack(true);
                knob->setLearnMenus(&learn_);
                view = std::move(knob);
                break;
            }
            case ControlKind::Button:
            case ControlKind::Page:
            case ControlKind::Link:
                view = std::make_unique<Button>(row, listener);
                break;
            case ControlKind::Menu: {
                auto menu = std::make_unique<OptionMenu>(row, listener);
                if (LearnMenus::hasSection(row.tag)) menu->setLearnMenus(&learn_);
                view = std::move(menu);
                break;
            }
            case ControlKind::Readout:
                view = std::make_unique<Readout>(row);
                break;
            case ControlKind::Led:
                view = std::make_unique<Led>(row, artwork::frameCount(row.bitmap));
                break;
            case ControlKind::Presets:
                view = std::make_unique<PresetMenu>(row, host_, runner_);
                break;
            case ControlKind::SampleView:
                view = std::make_unique<SampleView>(row.rect, host_, runner_);
                break;
            case ControlKind::SampleName:
                view =
                    std::make_unique<SampleNamePlate>(row, dynamic_cast<SampleView*>(viewOf(tag::sampler)));
                break;
            case ControlKind::Keys:
                view = std::make_unique<KeyboardView>(row.rect, host_);
                break;
            case ControlKind::KeyName:
                view = std::make_unique<KeyboardBaseReadout>(row.rect, row.bitmap, host_);
                break;
        }
        gui::View& added = frame_->addView(std::move(view));
        added.setVisibility([this, group = row.group] { return groups_[static_cast<std::size_t>(group)]; });
        placed_.push_back({&row, &added});
    }
    // Last, so it lies over everything it may have to cover.
    notice_ = &frame_->add(std::make_unique<NoticeView>());
    runner_.setNotice(notice_);
}

gui::View* TMUniClientEditor::viewOf(int32_t tag) const {
    for (const Placed& p : placed_)
        if (p.row->tag == tag) return p.view;
    return nullptr;
}

const TMUniClientEditor::Placed* TMUniClientEditor::placedOf(const gui::Control& control) const {
    for (const Placed& p : placed_)
        if (p.view == &control) return &p;
    return nullptr;
}

void TMUniClientEditor::valueChanged(gui::Control& control) {
    const Placed* p = placedOf(control);
    if (!p) return;
    const LayoutRow& row = *p->row;
    if (row.kind == ControlKind::Page) return turnPage(row.tag);
    if (row.kind == ControlKind::Link) {
        if (control.value() != 0.0f) host_.openManual();
        return;
    }
    // Knobs send their value; buttons and menus their state scaled to the parameter's law.
    const float v = row.kind == ControlKind::Knob ? control.value() : control.value() * row.step;
    if (isHostParameter(row.tag))
        host_.setParameterAutomated(row.tag, v);
    else
        host_.setParameter(row.tag, v);
    // The transpose buttons also move the keyboard, an octave per press.
    if ((row.tag == tag::transpose_up || row.tag == tag::transpose_down) && control.value() != 0.0f)
        host_.setKeyboardBase(keys::transposed(host_.keyboardBase(), row.tag == tag::transpose_up ? 1 : -1));
}

void TMUniClientEditor::turnPage(int32_t buttonTag) {
    host_.setOverlay(overlayAfterClick(buttonTag, host_.overlay()));
    // At once, not at the next idle: the clicked button shows the page's state, not its own
    // toggle (a click on the sub-page already shown leaves it on).
    pollValues();
}

void TMUniClientEditor::beginEdit(gui::Control& control) {
    if (isHostParameter(control.tag())) host_.beginEdit(control.tag());
}

void TMUniClientEditor::endEdit(gui::Control& control) {
    if (isHostParameter(control.tag())) host_.endEdit(control.tag());
}

void TMUniClientEditor::pollValues() {
    const Overlay overlay = host_.overlay();
    const ViewGroupMask groups =
        pageGroups(host_.choice(tag::effects_choice), host_.choice(tag::carrier_mode),
                   host_.choice(tag::modulator_mode), overlay);
    if (groups != groups_) {
        groups_ = groups;
        frame_->invalidateAll();
    }
    char text[32];
    for (const Placed& p : placed_) {
        const LayoutRow& row = *p.row;
        switch (row.kind) {
            case ControlKind::Knob:
                static_cast<Knob*>(p.view)->setValueSilently(host_.parameterValue(row.source));
                break;
            case ControlKind::Button:
            case ControlKind::Menu:
                static_cast<gui::Control*>(p.view)->setValueSilently(
                    static_cast<float>(host_.choice(row.source)));
                break;
            case ControlKind::Readout:
                readoutText(row.tag, row.source, host_.parameterValue(row.source), host_, text, sizeof text);
                static_cast<Readout*>(p.view)->setText(text);
                break;
            case ControlKind::Led:
                if (row.source == kLearnLed)
                    static_cast<Led*>(p.view)->setLevel(host_.learnTarget() >= 0 ? 1.0f : 0.0f);
                else
                    static_cast<Led*>(p.view)->setPeak(host_.meter(row.source));
                break;
            case ControlKind::Presets:
                static_cast<PresetMenu*>(p.view)->setProgramName(host_.currentProgramName());
                break;
            case ControlKind::SampleView:
                static_cast<SampleView*>(p.view)->poll();
                break;
            case ControlKind::SampleName:
                static_cast<SampleNamePlate*>(p.view)->poll();
                break;
            case ControlKind::Page:
                static_cast<gui::Control*>(p.view)->setValueSilently(
                    static_cast<float>(overlayButtonState(row.tag, overlay)));
                break;
            case ControlKind::Keys:
                static_cast<KeyboardView*>(p.view)->poll();
                break;
            case ControlKind::KeyName:
                static_cast<KeyboardBaseReadout*>(p.view)->poll();
                break;
            case ControlKind::Image:
            case ControlKind::Link:
                break;
        }
    }
}

void TMUniClientEditor::close() {
    if (!frame_) return;
    // A dialog still open would answer into a window that is gone.
    dialogs_->cancel();
    // A gesture cut short by the close still ends, so the host does not wait for it forever.
    for (const Placed& p : placed_)
        if (auto* control = dynamic_cast<gui::Control*>(p.view); control && control->isEditing())
            control->endEdit();
    runner_.setNotice(nullptr);
    notice_ = nullptr;
    frame_.reset();
    placed_.clear();
    parent_ = 0;
    sharedBitmaps().release();
}

void TMUniClientEditor::idle() {
    if (!frame_) return;
    dialogs_->poll();
    frame_->idle();
}

void TMUniClientEditor::onIdle() {
    if (host_.takeRefresh()) frame_->invalidateAll();
    pollValues();
}

}  // namespace kf::editor
