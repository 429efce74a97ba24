// The preset control of the top bar. Its face names the current program; a click lists the
// preset folder afresh and pops up the preset menu: the three file actions, then the folder's
// presets with its subfolders as submenus. The actions run their dialog without blocking
// (answered at a later idle) and hand the chosen path to the instance.
#pragma once

#include <string>
#include <vector>

#include "editor/layout.h"
#include "editor/notice.h"
#include "editor/ports.h"
#include "gui/popup_menu.h"
#include "gui/view.h"

namespace kf::editor {

class PresetMenu : public gui::View {
  public:
    // Submenu levels below the preset folder; deeper folders are not listed.
    static constexpr int kMaxDepth = 4;
    // Items before the listed presets.
    enum Entry : int { kSelectFolder, kSavePreset, kLoadPreset, kPresetsTitle, kFirstPreset };

    PresetMenu(const LayoutRow& row, PresetPort& presets, DialogRunner& dialogs);

    // Shows `name` on the face; redrawn only when it changed.
    void setProgramName(const std::string& name);
    const std::string& programName() const { return name_; }

    bool mouseDown(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    void choose(const gui::MenuPath& chosen);
    void runDialog(PresetPort::PresetDialog which);

    PresetPort& presets_;
    DialogRunner& dialogs_;
    int bitmap_;
    std::string name_;
    // The listing the open menu was built from, so a choice names the file it showed.
    std::vector<PresetPort::PresetNode> listing_;
};

// The menu for a listing: the fixed entries, the title, then the nodes (folders as
// submenus; an empty folder shows one disabled line). Presets named `current` are ticked.
gui::Menu buildPresetMenu(const std::vector<PresetPort::PresetNode>& listing, const std::string& current);

}  // namespace kf::editor
