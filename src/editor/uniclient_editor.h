// The plug-in's editor: a 503 x 404 frame with the panel artwork, shown in a child window of
// the host's window. It is created with the instance (touching no display, so headless
// scanners can load the plug-in), opened and closed by the host any number of times, and
// does all its work on the thread that calls open, idle and close. It knows no plug-in
// interface: the instance's adapter forwards the host's calls, and the instance serves it
// through the ports.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "editor/controls.h"
#include "editor/layout.h"
#include "editor/learn_menu.h"
#include "editor/notice.h"
#include "editor/ports.h"
#include "gui/frame.h"
#include "gui/platform_window.h"
#include "platform/async_file_dialogs.h"

namespace kf::editor {

class TMUniClientEditor : private gui::ControlListener {
  public:
    // `dialogs` serves the file dialogs of the editor's controls; polled at each idle.
    TMUniClientEditor(EditorPorts ports, std::unique_ptr<platform::AsyncFileDialogs> dialogs);
    ~TMUniClientEditor() override;

    // The page's size in pixels, for the editor's whole life, open or not.
    static constexpr gui::Rect bounds() { return {0, 0, kWidth, kHeight}; }
    // `parentWindow` is the host's window as the host hands it over, opaque to all but the
    // window code: on X11 a window id carried in a pointer. False, with nothing left open,
    // when there is no display or it is no usable window. Already open on that window (or
    // handed no usable one): true, nothing done; open on another window: moves there.
    bool open(void* parentWindow);
    // Closes the window (safe when the host destroyed its parent first); any number of times.
    void close();
    // Reads the window's events, shows the instance's changes, redraws. Nothing while closed.
    void idle();

    // Opens on a window the caller made: tests and screenshots use an off-screen one.
    bool openOn(std::unique_ptr<gui::PlatformWindow> window);
    bool isOpen() const { return frame_ != nullptr; }
    // The open frame (null while closed).
    gui::Frame* frame() { return frame_.get(); }
    platform::AsyncFileDialogs& dialogs() { return *dialogs_; }
    // What the page says about a file action that did not happen (null while closed).
    const NoticeView* notice() const { return notice_; }

    // The process-wide bitmaps every editor draws with; decoded while some editor is open.
    static gui::BitmapCache& sharedBitmaps();

    // The open view of a layout row's tag (null when closed or not on the page).
    gui::View* viewOf(int32_t tag) const;
    // The open plate that reads a parameter's value (null when closed or it has none).
    const Readout* readoutOf(int32_t parameter) const;

  private:
    struct Placed {
        const LayoutRow* row;
        gui::View* view;
        Readout* readout;  // a knob's plate, or null
    };

    void build();
    void onIdle();
    // Takes every control's value, text and level from the instance; redraws what changed.
    void pollValues();
    const Placed* placedOf(const gui::Control& control) const;
    // A click on one of the overlay's page buttons.
    void turnPage(int32_t buttonTag);

    // What the user's changes mean for the instance.
    void valueChanged(gui::Control& control) override;
    void beginEdit(gui::Control& control) override;
    void endEdit(gui::Control& control) override;

    // The drawing library and font stay loaded while the instance lives, not per window.
    gui::DrawingUse drawing_;
    EditorPorts ports_;
    std::unique_ptr<platform::AsyncFileDialogs> dialogs_;
    DialogRunner runner_;
    // Before the frame: the knobs and menus it owns hold on to it.
    LearnMenus learn_;
    // The groups shown: derived from the instance's choices and overlay state at each idle
    // (and at once after a page button), so the panels change together, never half-way
    // through a redraw.
    ViewGroupMask groups_;
    std::unique_ptr<gui::Frame> frame_;
    std::vector<Placed> placed_;
    NoticeView* notice_ = nullptr;
    uintptr_t parent_ = 0;  // the host's window the editor is open in (0: off-screen or closed)
};

}  // namespace kf::editor
