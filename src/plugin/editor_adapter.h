// The host's side of the editor: the plug-in interface's editor calls (its rectangle, open,
// close, idle) handed to the editor, which knows no plug-in interface of its own. The host's
// window arrives here first, as the interface passes it, and goes on to the editor untouched.
#pragma once

#include <memory>

#include "editor/uniclient_editor.h"
#include "vst/audioeffect.h"

namespace kf {

class EditorAdapter : public vst::AEffEditor {
  public:
    explicit EditorAdapter(std::unique_ptr<editor::TMUniClientEditor> editor);

    // All four come on the host's main (user-interface) thread, which the editor runs on.
    // The editor's page size, valid for the adapter's whole life, open or not.
    bool getRect(vst::ERect** rect) override;
    bool open(void* parentWindow) override { return editor_->open(parentWindow); }
    void close() override { editor_->close(); }
    void idle() override { editor_->idle(); }

    editor::TMUniClientEditor& editor() { return *editor_; }

  private:
    std::unique_ptr<editor::TMUniClientEditor> editor_;
    vst::ERect rect_;
};

}  // namespace kf
