// What a host's editor window does alike on every window system: the plug-in's rectangle,
// the host's idle pace, and a capture written out as PNG.
#include <thread>

#include "gui/draw_context.h"
#include "host/editor_window.h"
#include "platform/safe_files.h"

namespace kf::host {
namespace {

constexpr int kMaxEditorSide = 8192;

}  // namespace

bool EditorWindow::editorRect(int& width, int& height) {
    vst::ERect* rect = nullptr;
    plugin_.dispatch(vst::effEditGetRect, 0, 0, &rect);
    if (rect == nullptr) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    return width > 0 && height > 0 && width <= kMaxEditorSide && height <= kMaxEditorSide;
}

void EditorWindow::idle() {
    if (editorOpen_) plugin_.dispatch(vst::effEditIdle);
    handleEvents();
}

void EditorWindow::idleFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    do {
        idle();
        std::this_thread::sleep_for(kEditorIdlePeriod);
    } while (std::chrono::steady_clock::now() < end);
}

bool EditorWindow::writeCapture(int width, int height, const std::vector<std::uint32_t>& words,
                                const std::string& pngPath, std::string& error) {
    gui::Surface picture(width, height);
    picture.assign(words);
    // Encoded in memory first: the file is then replaced only by a complete picture.
    const std::vector<unsigned char> png = picture.encodePng();
    if (png.empty()) {
        error = "cannot encode the capture as PNG";
        return false;
    }
    return platform::replaceFile(pngPath, png, error);
}

}  // namespace kf::host
