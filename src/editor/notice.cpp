#include "editor/notice.h"

#include <algorithm>
#include <utility>

#include "gui/frame.h"

namespace kf::editor {

namespace {

// Across the middle of the page, clear of the top bar and the keyboard.
constexpr gui::Rect kBox{41, 146, 462, 210};
constexpr int kLineHeight = 15;
const gui::Color kEdge = gui::Color::rgb(0xf0a020);
const gui::Color kFill = gui::Color::rgb(0x1d1f23);
const gui::Color kText = gui::Color::rgb(0xe6e6e6);
const gui::Color kHint = gui::Color::rgb(0x9a9da3);

}  // namespace

NoticeView::NoticeView() : View(kBox) {
    setVisibility([this] { return !text_.empty(); });
}

void NoticeView::show(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    // Drawn again where it was, so what lies under a closed notice comes back.
    if (frame()) frame()->invalidate(rect());
}

bool NoticeView::mouseDown(const gui::Event&) {
    show({});
    return true;
}

void NoticeView::draw(gui::DrawContext& context, const gui::Rect&) {
    context.fillRect(rect(), kEdge);
    context.fillRect({rect().left + 1, rect().top + 1, rect().right - 1, rect().bottom - 1}, kFill);
    gui::Rect line{rect().left + 8, rect().top + 5, rect().right - 8, rect().top + 5 + kLineHeight};
    for (std::size_t begin = 0; begin <= text_.size(); line.top += kLineHeight, line.bottom += kLineHeight) {
        const std::size_t end = std::min(text_.find('\n', begin), text_.size());
        context.drawText(std::string_view(text_).substr(begin, end - begin), line, gui::Align::Center, kText);
        begin = end + 1;
    }
    context.drawText("click here to close",
                     {line.left, rect().bottom - 5 - kLineHeight, line.right, rect().bottom - 5},
                     gui::Align::Center, kHint);
}

std::string dialogRefusal(platform::DialogStart outcome) {
    switch (outcome) {
        case platform::DialogStart::kOpened:
            break;
        case platform::DialogStart::kBusy:
            return "A file dialog is open already, perhaps behind this window:\nanswer or close it first.";
        case platform::DialogStart::kNoProgram:
            return "No file dialog: Kestrafone shows them with zenity or kdialog.\n"
                   "Install one (sudo apt install zenity) and try again.";
        case platform::DialogStart::kCouldNotRun:
            return "The file dialog program (zenity or kdialog) could not be started.";
    }
    return {};
}

void DialogRunner::run(const EditorHost::DialogRequest& request, platform::AsyncFileDialogs::Result done) {
    const platform::DialogStart outcome =
        dialogs_.request(request.kind, request.title, request.start, request.types, std::move(done));
    if (notice_) notice_->show(dialogRefusal(outcome));
}

}  // namespace kf::editor
