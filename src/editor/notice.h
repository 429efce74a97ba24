// Why a file action did not happen, said on the page itself. A click on "click to load" or a
// preset menu entry that opens no dialog must not pass in silence, and a message box cannot
// carry the news: without zenity or kdialog there is no box either. For the same reason the
// instance's own messages come here while no box can show them.
#pragma once

#include <string>
#include <vector>

#include "editor/ports.h"
#include "gui/view.h"
#include "platform/async_file_dialogs.h"

namespace kf::editor {

// A box over the middle of the page with a short text; shown while it has one, gone at a
// click on it.
class NoticeView : public gui::View {
  public:
    static constexpr int kMaxLines = 10;

    NoticeView();
    // Lines are separated by '\n', and lines wider than the box are broken between words; the
    // box grows down to hold them (up to kMaxLines). "" hides the box.
    void show(std::string text);
    const std::string& text() const { return text_; }
    // The lines as drawn.
    const std::vector<std::string>& lines() const { return lines_; }

    bool mouseDown(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    std::string text_;
    std::vector<std::string> lines_;
};

// The text for a dialog that did not open ("" for one that did).
std::string dialogRefusal(platform::DialogStart outcome);

// Starts the file dialogs the editor's views ask for, and puts the reason on the notice when
// one cannot start. Lives as long as the editor; the notice only while the window is open.
class DialogRunner {
  public:
    explicit DialogRunner(platform::AsyncFileDialogs& dialogs) : dialogs_(dialogs) {}
    void setNotice(NoticeView* notice) { notice_ = notice; }
    void run(const DialogRequest& request, platform::AsyncFileDialogs::Result done);

  private:
    platform::AsyncFileDialogs& dialogs_;
    NoticeView* notice_ = nullptr;
};

}  // namespace kf::editor
