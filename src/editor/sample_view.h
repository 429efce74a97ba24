// The sampler's sample on the page: its waveform with the start and end markers and the
// play position, zoomed and scrolled by two thin bars (and the wheel). A plain click loads a
// file, Alt-click and Control-click move the start and end markers, a right-click opens the
// sample-folder menu.
//
// The view never touches the sample's buffers: it asks the instance for a min/max overview of
// the frames it shows, again only when the sample was replaced or the view moved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/controls.h"
#include "editor/notice.h"
#include "editor/ports.h"
#include "gui/view.h"

namespace kf::editor {

class SampleView : public gui::View {
  public:
    static constexpr int kBar = 6;                // thickness of the scroll and zoom bars
    static constexpr float kMaxZoom = 0.99f;      // the closest view shows 1 % of the sample
    static constexpr float kWheelZoom = 0.8f;     // visible part kept per wheel notch
    static constexpr float kWheelScroll = 0.25f;  // visible parts moved per Shift+wheel notch

    SampleView(const gui::Rect& rect, SamplePort& sample, DialogRunner& dialogs);

    // Picks up a replaced sample, moved markers and the play position; call at each idle.
    void poll();

    // The waveform, the scroll bar along the bottom, the zoom bar at the right, and the
    // corner between them that drags both.
    gui::Rect waveArea() const;
    gui::Rect scrollBar() const;
    gui::Rect zoomBar() const;
    gui::Rect corner() const;

    // Scroll 0..1 over the frames not shown; zoom 0..kMaxZoom, the part of the sample hidden.
    float scroll() const { return scroll_; }
    float zoom() const { return zoom_; }
    void setScroll(float s);
    void setZoom(float z);
    // Frames shown, and the first of them (frames are those of the last poll).
    int32_t frames() const { return frames_; }
    int32_t visibleFrames() const;
    int32_t firstFrame() const;
    // The frame under window column x, always inside the sample.
    int32_t frameAt(int x) const;
    // The display name ("" without a sample).
    const std::string& sampleName() const { return name_; }

    bool mouseDown(const gui::Event& e) override;
    bool mouseMoved(const gui::Event& e) override;
    bool mouseUp(const gui::Event& e) override;
    bool wheel(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

    // The sample-folder menu: "Choose Sample Directory", then the folder's audio files with
    // the loaded one ticked.
    void openFolderMenu();

  private:
    enum class Drag { None, Scroll, Zoom, Both };

    void dragTo(gui::Point p);
    void openFileDialog();
    void chooseFolder();
    // The x of a frame in the wave area, or -1 when it is not shown.
    int columnOf(double frame) const;
    void drawWave(gui::DrawContext& context, const gui::Rect& area);

    SamplePort& sample_;
    DialogRunner& dialogs_;
    uint32_t generation_ = 0;
    bool known_ = false;  // generation_ holds a polled value
    int32_t frames_ = 0;
    bool stereo_ = false;
    std::string name_;
    int32_t start_ = 0, end_ = 0;
    int playColumn_ = -1;
    float scroll_ = 0.0f;
    float zoom_ = 0.0f;
    Drag drag_ = Drag::None;

    // The overview drawn last and what it was made from.
    struct Cache {
        uint32_t generation = 0;
        int32_t first = -1, count = 0;
        std::vector<SampleExtent> channels[2];
    } cache_;
};

// The audio files of a folder the sample-folder menu offers: .wav, .aif and .aiff in any
// case, by name.
std::vector<std::string> sampleFilesIn(const std::string& folder);

// The sample's name on a plate with a drop-down arrow; a click on it opens the view's
// sample-folder menu, as the arrow promises. Polled after the view (the table places it
// later), so both show one sample.
class SampleNamePlate : public Readout {
  public:
    SampleNamePlate(const LayoutRow& row, SampleView* view) : Readout(row.rect, row.bitmap), view_(view) {}
    void poll() {
        setText(view_ && !view_->sampleName().empty() ? view_->sampleName().c_str() : "no sample");
    }
    bool mouseDown(const gui::Event&) override {
        if (!view_) return false;
        view_->openFolderMenu();
        return true;
    }
    void draw(gui::DrawContext& context, const gui::Rect&) override {
        drawPlate(context, dropDownTextArea(rect()));
    }

  private:
    SampleView* view_;
};

}  // namespace kf::editor
