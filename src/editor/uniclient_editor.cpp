#include "editor/uniclient_editor.h"

#include <utility>

#include "artwork/artwork.h"
#include "common/parameter_table.h"
#include "editor/band_display.h"
#include "editor/controls.h"
#include "editor/keyboard_view.h"
#include "editor/notice.h"
#include "editor/preset_menu.h"
#include "editor/readouts.h"
#include "editor/sample_view.h"
#include "gui/view.h"

namespace kf::editor {

TMUniClientEditor::TMUniClientEditor(EditorPorts ports, std::unique_ptr<platform::AsyncFileDialogs> dialogs)
    : ports_(ports), dialogs_(std::move(dialogs)), runner_(*dialogs_), learn_(ports.learn) {}

TMUniClientEditor::~TMUniClientEditor() {
    close();
}

gui::BitmapCache& TMUniClientEditor::sharedBitmaps() {
    static gui::BitmapCache cache([](int id) { return artwork::png(id); }, artwork::kFirstId,
                                  artwork::kLastId);
    return cache;
}

bool TMUniClientEditor::open(void* parentWindow) {
    // The platform's window decides whether the handle names a window it can use (an X11 id
    // in the pointer's value, an HWND); a null one is never a window.
    const auto id = reinterpret_cast<uintptr_t>(parentWindow);
    const bool usable = id != 0;
    if (isOpen()) {
        if (!usable || id == parent_) return true;
        // A host that moves the editor to another window of its own: follow it there.
        close();
    }
    if (!usable || !openOn(gui::openChildWindow(parentWindow, kWidth, kHeight))) return false;
    parent_ = id;
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
    ports_.page.takeRefresh();
    ports_.page.setPageShown(true);
    pollValues();
    return true;
}

namespace {

// Host parameters report to the host as automation; the rest are the instance's own.
bool isHostParameter(int32_t tag) {
    return hostIndexOfTag(tag) >= 0;
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
                knob->setDefaultValue(ports_.parameters.defaultValue(row.tag));
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
            case ControlKind::Led:
                view = std::make_unique<Led>(row, artwork::frameCount(row.bitmap));
                break;
            case ControlKind::Presets:
                view = std::make_unique<PresetMenu>(row, ports_.presets, runner_);
                break;
            case ControlKind::SampleView:
                view = std::make_unique<SampleView>(row.rect, ports_.sample, runner_);
                break;
            case ControlKind::SampleName:
                view =
                    std::make_unique<SampleNamePlate>(row, dynamic_cast<SampleView*>(viewOf(tag::sampler)));
                break;
            case ControlKind::Keys:
                view = std::make_unique<KeyboardView>(row.rect, ports_.keyboard);
                break;
            case ControlKind::KeyName:
                view = std::make_unique<KeyboardBaseReadout>(row.rect, row.bitmap, ports_.keyboard);
                break;
            case ControlKind::Bands:
                view = std::make_unique<BandDisplay>(row.rect, row.bitmap, ports_.page);
                break;
        }
        auto shown = [this, group = row.group] { return groups_[static_cast<std::size_t>(group)]; };
        gui::View& added = frame_->addView(std::move(view));
        added.setVisibility(shown);
        Readout* readout = nullptr;
        if (!row.readout.empty()) {
            readout = &frame_->add(std::make_unique<Readout>(row.readout, artwork::readout_plate));
            readout->setVisibility(shown);
        }
        placed_.push_back({&row, &added, readout});
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

const Readout* TMUniClientEditor::readoutOf(int32_t parameter) const {
    for (const Placed& p : placed_)
        if (p.readout && p.row->source == parameter) return p.readout;
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
        if (control.value() != 0.0f) ports_.page.openManual();
        return;
    }
    // Knobs send their value; buttons and menus their state scaled to the parameter's law.
    const float v = row.kind == ControlKind::Knob ? control.value() : control.value() * row.step;
    if (isHostParameter(row.tag))
        ports_.parameters.setParameterAutomated(row.tag, v);
    else
        ports_.parameters.setParameter(row.tag, v);
    // The transpose buttons also move the keyboard, an octave per press.
    if ((row.tag == tag::transpose_up || row.tag == tag::transpose_down) && control.value() != 0.0f)
        ports_.keyboard.setKeyboardBase(
            keys::transposed(ports_.keyboard.keyboardBase(), row.tag == tag::transpose_up ? 1 : -1));
}

void TMUniClientEditor::turnPage(int32_t buttonTag) {
    ports_.page.setOverlay(overlayAfterClick(buttonTag, ports_.page.overlay()));
    // At once, not at the next idle: the clicked button shows the page's state, not its own
    // toggle (a click on the sub-page already shown leaves it on).
    pollValues();
}

void TMUniClientEditor::beginEdit(gui::Control& control) {
    if (isHostParameter(control.tag())) ports_.parameters.beginEdit(control.tag());
}

void TMUniClientEditor::endEdit(gui::Control& control) {
    if (isHostParameter(control.tag())) ports_.parameters.endEdit(control.tag());
}

void TMUniClientEditor::pollValues() {
    const ParameterPort& parameters = ports_.parameters;
    const Overlay overlay = ports_.page.overlay();
    const ViewGroupMask groups =
        pageGroups(parameters.choice(tag::effects_choice), parameters.choice(tag::carrier_mode),
                   parameters.choice(tag::modulator_mode), parameters.choice(tag::articulate), overlay);
    if (groups != groups_) {
        groups_ = groups;
        frame_->invalidateAll();
    }
    char text[32];
    for (const Placed& p : placed_) {
        const LayoutRow& row = *p.row;
        switch (row.kind) {
            case ControlKind::Knob: {
                const float value = parameters.parameterValue(row.source);
                static_cast<Knob*>(p.view)->setValueSilently(value);
                if (p.readout) {
                    readoutText(row.source, value, parameters, text, sizeof text);
                    p.readout->setText(text);
                }
                break;
            }
            case ControlKind::Button:
            case ControlKind::Menu:
                static_cast<gui::Control*>(p.view)->setValueSilently(
                    static_cast<float>(parameters.choice(row.source)));
                break;
            case ControlKind::Led:
                if (row.source == kLearnLed)
                    static_cast<Led*>(p.view)->setLevel(ports_.learn.learnTarget() >= 0 ? 1.0f : 0.0f);
                else
                    static_cast<Led*>(p.view)->setPeak(ports_.page.meter(row.source));
                break;
            case ControlKind::Presets:
                static_cast<PresetMenu*>(p.view)->setProgramName(ports_.presets.currentProgramName());
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
            case ControlKind::Bands:
                static_cast<BandDisplay*>(p.view)->poll();
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
    ports_.page.setPageShown(false);
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
    if (ports_.page.takeRefresh()) frame_->invalidateAll();
    if (std::string message = ports_.page.takeMessage(); !message.empty()) notice_->show(std::move(message));
    pollValues();
}

}  // namespace kf::editor
