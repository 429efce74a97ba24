#include "editor/notice.h"

#include <algorithm>
#include <utility>

#include "gui/frame.h"

namespace kf::editor {

namespace {

// Across the middle of the page, clear of the top bar and the keyboard: two lines and the
// hint below them, taller for more lines.
constexpr gui::Rect kBox{41, 146, 462, 210};
constexpr int kLineHeight = 15;
constexpr int kMargin = 8;
constexpr int kShortestLines = 2;
const gui::Color kEdge = gui::Color::rgb(0xf0a020);
const gui::Color kFill = gui::Color::rgb(0x1d1f23);
const gui::Color kText = gui::Color::rgb(0xe6e6e6);
const gui::Color kHint = gui::Color::rgb(0x9a9da3);

// The words of `paragraph` in lines no wider than `width`, each line as full as it goes; a
// word wider than the box has a line of its own (and is cut short when drawn).
void breakLines(std::string_view paragraph, float width, gui::DrawContext& measure,
                std::vector<std::string>& lines) {
    std::string line;
    std::size_t begin = 0;
    while (begin <= paragraph.size()) {
        const std::size_t end = std::min(paragraph.find(' ', begin), paragraph.size());
        const std::string_view word = paragraph.substr(begin, end - begin);
        begin = end + 1;
        if (word.empty()) continue;
        std::string longer = line.empty() ? std::string(word) : line + ' ' + std::string(word);
        if (!line.empty() && measure.textWidth(longer) > width) {
            lines.push_back(std::move(line));
            longer = word;
        }
        line = std::move(longer);
    }
    lines.push_back(std::move(line));
}

}  // namespace

NoticeView::NoticeView() : View(kBox) {
    setVisibility([this] { return !text_.empty(); });
}

void NoticeView::show(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    lines_.clear();
    if (!text_.empty()) {
        gui::Surface scratch(1, 1);
        gui::DrawContext measure(scratch, nullptr);
        const auto width = static_cast<float>(kBox.width() - 2 * kMargin);
        for (std::size_t begin = 0; begin <= text_.size();) {
            const std::size_t end = std::min(text_.find('\n', begin), text_.size());
            breakLines(std::string_view(text_).substr(begin, end - begin), width, measure, lines_);
            begin = end + 1;
        }
    }
    if (lines_.size() > static_cast<std::size_t>(kMaxLines)) {
        lines_.resize(static_cast<std::size_t>(kMaxLines));
        lines_.back() += "\u2026";
    }
    // Drawn again where it was too, so what lies under a closed notice comes back.
    const int extra = std::max(static_cast<int>(lines_.size()) - kShortestLines, 0) * kLineHeight;
    setRect({kBox.left, kBox.top, kBox.right, kBox.bottom + extra});
    setDirty();
}

bool NoticeView::mouseDown(const gui::Event&) {
    show({});
    return true;
}

void NoticeView::draw(gui::DrawContext& context, const gui::Rect&) {
    context.fillRect(rect(), kEdge);
    context.fillRect({rect().left + 1, rect().top + 1, rect().right - 1, rect().bottom - 1}, kFill);
    gui::Rect line{rect().left + kMargin, rect().top + 5, rect().right - kMargin,
                   rect().top + 5 + kLineHeight};
    for (const std::string& words : lines_) {
        context.drawText(words, line, gui::Align::Center, kText);
        line.top += kLineHeight;
        line.bottom += kLineHeight;
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

void DialogRunner::run(const DialogRequest& request, platform::AsyncFileDialogs::Result done) {
    const platform::DialogStart outcome =
        dialogs_.request(request.kind, request.title, request.start, request.types, std::move(done));
    if (notice_) notice_->show(dialogRefusal(outcome));
}

}  // namespace kf::editor
