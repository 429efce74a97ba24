#include "editor/sample_view.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "common/numeric.h"
#include "gui/frame.h"
#include "gui/popup_menu.h"

namespace kf::editor {

namespace {

const gui::Color kBack = gui::Color::rgb(0x141517);
const gui::Color kWave = gui::Color::rgb(0xd8a24a);
const gui::Color kCentre = gui::Color::rgb(0x3a3d42);
const gui::Color kStart = gui::Color::rgb(0x5cc45c);
const gui::Color kEnd = gui::Color::rgb(0xe05050);
const gui::Color kPlay = gui::Color::rgb(0xf0f0f0);
const gui::Color kTrack = gui::Color::rgb(0x2b2d30);
const gui::Color kThumb = gui::Color::rgb(0x8a8e95);
const gui::Color kHint = gui::Color::rgb(0x9a9da3);

constexpr const char* kEmptyHint = "click to load";
constexpr const char* kChooseFolderEntry = "Choose Sample Directory";

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A one-pixel column from y0 to y1 (either order), both included.
void column(gui::DrawContext& context, int x, int y0, int y1, gui::Color c) {
    context.fillRect({x, std::min(y0, y1), x + 1, std::max(y0, y1) + 1}, c);
}

}  // namespace

std::vector<std::string> sampleFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        const std::string ext = lowerCase(it->path().extension().string());
        if (ext == ".wav" || ext == ".aif" || ext == ".aiff") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

SampleView::SampleView(const gui::Rect& rect, SamplePort& sample, DialogRunner& dialogs)
    : View(rect), sample_(sample), dialogs_(dialogs) {}

gui::Rect SampleView::waveArea() const {
    const gui::Rect& r = rect();
    return {r.left, r.top, r.right - kBar, r.bottom - kBar};
}

gui::Rect SampleView::scrollBar() const {
    const gui::Rect& r = rect();
    return {r.left, r.bottom - kBar, r.right - kBar, r.bottom};
}

gui::Rect SampleView::zoomBar() const {
    const gui::Rect& r = rect();
    return {r.right - kBar, r.top, r.right, r.bottom - kBar};
}

gui::Rect SampleView::corner() const {
    const gui::Rect& r = rect();
    return {r.right - kBar, r.bottom - kBar, r.right, r.bottom};
}

void SampleView::setScroll(float s) {
    s = clampUnit(s);
    if (s == scroll_) return;
    scroll_ = s;
    setDirty();
}

void SampleView::setZoom(float z) {
    z = std::isnan(z) ? 0.0f : std::clamp(z, 0.0f, kMaxZoom);
    if (z == zoom_) return;
    zoom_ = z;
    setDirty();
}

int32_t SampleView::visibleFrames() const {
    if (frames_ <= 0) return 0;
    const auto visible =
        static_cast<int32_t>(static_cast<double>(frames_) * (1.0 - static_cast<double>(zoom_)));
    return std::clamp(visible, 1, frames_);
}

int32_t SampleView::firstFrame() const {
    return static_cast<int32_t>(static_cast<double>(frames_ - visibleFrames()) *
                                static_cast<double>(scroll_));
}

int32_t SampleView::frameAt(int x) const {
    if (frames_ <= 0) return 0;
    const gui::Rect area = waveArea();
    const int offset = std::clamp(x, area.left, area.right - 1) - area.left;
    const auto within = static_cast<int64_t>(static_cast<double>(visibleFrames()) * offset / area.width());
    return static_cast<int32_t>(std::clamp<int64_t>(firstFrame() + within, 0, frames_ - 1));
}

int SampleView::columnOf(double frame) const {
    const int32_t visible = visibleFrames();
    if (visible <= 0 || !(frame >= 0.0)) return -1;
    const double at = (frame - firstFrame()) / visible;
    if (!(at >= 0.0 && at < 1.0)) return -1;
    const gui::Rect area = waveArea();
    return area.left + static_cast<int>(at * area.width());
}

void SampleView::poll() {
    const uint32_t generation = sample_.sampleGeneration();
    if (!known_ || generation != generation_) {
        known_ = true;
        generation_ = generation;
        frames_ = std::max(sample_.sampleFrames(), 0);
        stereo_ = sample_.sampleIsStereo();
        name_ = sample_.sampleName();
        scroll_ = zoom_ = 0.0f;
        cache_.first = -1;
        setDirty();
    }
    const int32_t start = sample_.sampleStartMarker(), end = sample_.sampleEndMarker();
    if (start != start_ || end != end_) {
        start_ = start;
        end_ = end;
        setDirty();
    }
    const int play = columnOf(static_cast<double>(sample_.samplePlayPosition()));
    if (play != playColumn_) {
        playColumn_ = play;
        setDirty();
    }
}

// ---- mouse ---------------------------------------------------------------------------

bool SampleView::mouseDown(const gui::Event& e) {
    if (e.button == gui::MouseButton::Right) {
        openFolderMenu();
        return true;
    }
    if (e.button != gui::MouseButton::Left) return false;
    // Without a sample there is nothing to scroll or zoom: the whole view is "click to load".
    if (frames_ <= 0) {
        openFileDialog();
        return true;
    }
    if (corner().contains(e.pos))
        drag_ = Drag::Both;
    else if (scrollBar().contains(e.pos))
        drag_ = Drag::Scroll;
    else if (zoomBar().contains(e.pos))
        drag_ = Drag::Zoom;
    if (drag_ != Drag::None) {
        dragTo(e.pos);
        return true;
    }
    if ((e.modifiers & (gui::kAlt | gui::kControl)) != 0) {
        // The sample may have changed since the last idle; the instance keeps the marker inside it.
        if (sample_.snapSampleMarker((e.modifiers & gui::kAlt) != 0, frameAt(e.pos.x))) poll();
        return true;
    }
    openFileDialog();
    return true;
}

bool SampleView::mouseMoved(const gui::Event& e) {
    if (drag_ == Drag::None) return false;
    dragTo(e.pos);
    return true;
}

bool SampleView::mouseUp(const gui::Event&) {
    const bool dragging = drag_ != Drag::None;
    drag_ = Drag::None;
    return dragging;
}

void SampleView::dragTo(gui::Point p) {
    const gui::Rect area = waveArea();
    if (drag_ == Drag::Scroll || drag_ == Drag::Both)
        setScroll(static_cast<float>(p.x - area.left) / static_cast<float>(std::max(area.width() - 1, 1)));
    if (drag_ == Drag::Zoom || drag_ == Drag::Both)
        setZoom(kMaxZoom * static_cast<float>(area.bottom - 1 - p.y) /
                static_cast<float>(std::max(area.height() - 1, 1)));
}

bool SampleView::wheel(const gui::Event& e) {
    if (frames_ <= 0 || e.wheelY == 0) return false;
    const auto notches = static_cast<float>(e.wheelY);  // up: closer, or back to the start
    if (e.modifiers & gui::kShift) {
        const int32_t hidden = frames_ - visibleFrames();
        if (hidden > 0)
            setScroll(scroll_ - notches * kWheelScroll * static_cast<float>(visibleFrames()) /
                                    static_cast<float>(hidden));
        return true;
    }
    // The frame under the pointer stays under it.
    const gui::Rect area = waveArea();
    const int offset = std::clamp(e.pos.x, area.left, area.right - 1) - area.left;
    const int32_t pointed = frameAt(e.pos.x);
    const float shown = std::clamp((1.0f - zoom_) * std::pow(kWheelZoom, notches), 1.0f - kMaxZoom, 1.0f);
    setZoom(1.0f - shown);
    const int32_t visible = visibleFrames();
    const int32_t hidden = frames_ - visible;
    const auto first = pointed - static_cast<int64_t>(static_cast<double>(visible) * offset / area.width());
    setScroll(hidden > 0 ? static_cast<float>(static_cast<double>(first) / hidden) : 0.0f);
    return true;
}

// ---- files ---------------------------------------------------------------------------

void SampleView::openFileDialog() {
    dialogs_.run(sample_.sampleFileDialog(), [this](std::optional<std::string> path) {
        if (path && sample_.loadSampleFile(*path)) poll();
    });
}

void SampleView::openFolderMenu() {
    if (!frame()) return;
    const std::string folder = sample_.sampleFolder();
    std::vector<std::string> files = folder.empty() ? std::vector<std::string>{} : sampleFilesIn(folder);
    const std::filesystem::path loaded = std::filesystem::path(sample_.samplePath()).lexically_normal();
    gui::Menu menu;
    menu.addEntry(kChooseFolderEntry);
    for (const std::string& name : files)
        menu.addEntry(name, true, (std::filesystem::path(folder) / name).lexically_normal() == loaded);
    frame()->popupMenu(std::move(menu), {rect().left, rect().bottom},
                       [this, folder, files = std::move(files)](const gui::MenuPath& chosen) {
                           if (chosen.empty()) return;
                           const int entry = chosen.front();
                           if (entry == 0) return chooseFolder();
                           if (entry > static_cast<int>(files.size())) return;
                           const auto path =
                               std::filesystem::path(folder) / files[static_cast<std::size_t>(entry - 1)];
                           if (sample_.loadSampleFile(path.string())) poll();
                       });
}

void SampleView::chooseFolder() {
    dialogs_.run(sample_.sampleFolderDialog(), [this](std::optional<std::string> folder) {
        if (folder && !folder->empty()) sample_.setSampleFolder(*folder);
    });
}

// ---- drawing -------------------------------------------------------------------------

void SampleView::draw(gui::DrawContext& context, const gui::Rect&) {
    const gui::Rect area = waveArea();
    context.fillRect(rect(), kTrack);
    context.fillRect(area, kBack);
    if (frames_ <= 0) {
        context.drawText(kEmptyHint, area, gui::Align::Center, kHint);
        return;
    }
    drawWave(context, area);

    // The markers sit on the boundary before their frame; the end may be one past the last.
    const auto boundary = [&](int32_t frame) {
        const double at = static_cast<double>(frame - firstFrame()) / visibleFrames();
        if (!(at >= 0.0 && at <= 1.0)) return -1;
        return std::min(area.left + static_cast<int>(std::lround(at * area.width())), area.right - 1);
    };
    if (const int x = boundary(start_); x >= 0) column(context, x, area.top, area.bottom - 1, kStart);
    if (const int x = boundary(end_ > 0 ? end_ : frames_); x >= 0)
        column(context, x, area.top, area.bottom - 1, kEnd);
    if (playColumn_ >= 0) column(context, playColumn_, area.top, area.bottom - 1, kPlay);

    // Scroll thumb as wide as the part shown; zoom mark rising with the zoom.
    const gui::Rect bar = scrollBar();
    const int thumb = std::max(
        4, static_cast<int>(std::lround(static_cast<double>(bar.width()) * visibleFrames() / frames_)));
    const int x = bar.left + static_cast<int>(std::lround(static_cast<float>(bar.width() - thumb) * scroll_));
    context.fillRect({x, bar.top + 1, x + thumb, bar.bottom - 1}, kThumb);
    const gui::Rect zb = zoomBar();
    const int y =
        zb.bottom - 3 - static_cast<int>(std::lround(static_cast<float>(zb.height() - 3) * zoom_ / kMaxZoom));
    context.fillRect({zb.left + 1, y, zb.right - 1, y + 3}, kThumb);
    context.strokeRect(corner(), kThumb);
}

void SampleView::drawWave(gui::DrawContext& context, const gui::Rect& area) {
    const int32_t first = firstFrame(), count = visibleFrames();
    if (cache_.generation != generation_ || cache_.first != first || cache_.count != count) {
        cache_.generation = generation_;
        cache_.first = first;
        cache_.count = count;
        for (int ch = 0; ch < 2; ++ch)
            cache_.channels[ch] = ch == 0 || stereo_ ? sample_.sampleOverview(ch, first, count, area.width())
                                                     : std::vector<SampleExtent>{};
    }
    // Stereo: the left channel in the upper half, the right in the lower.
    const int lanes = stereo_ ? 2 : 1;
    const int laneHeight = area.height() / lanes;
    for (int ch = 0; ch < lanes; ++ch) {
        const int top = area.top + ch * laneHeight;
        const int half = laneHeight / 2;
        const int centre = top + half;
        context.fillRect({area.left, centre, area.right, centre + 1}, kCentre);
        const auto& extents = cache_.channels[ch];
        const auto toY = [&](int16_t v) {
            return std::clamp(centre - static_cast<int>(std::lround(v / 32768.0 * half)), top,
                              top + laneHeight - 1);
        };
        for (std::size_t i = 0; i < extents.size() && static_cast<int>(i) < area.width(); ++i)
            column(context, area.left + static_cast<int>(i), toY(extents[i].max), toY(extents[i].min), kWave);
    }
}

}  // namespace kf::editor
