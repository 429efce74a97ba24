// MIDI learn from the panel: the menu a right click on a knob opens, and the controller
// section at the end of the parameter menus. Built and answered here, so the controls only
// pop the menus up and hand back what was chosen.
#pragma once

#include <cstdint>

#include "editor/ports.h"
#include "gui/popup_menu.h"

namespace kf::editor {

class LearnMenus {
  public:
    static constexpr int kControllers = 128;
    static constexpr int kPerSubmenu = 16;

    explicit LearnMenus(LearnPort& learn) : learn_(learn) {}

    // "midi Learn" (ticked while the knob is armed) and "clear".
    gui::Menu knobMenu(int32_t tag) const;
    // Arms (or, when armed already, disarms) learning for the knob, or clears its controllers.
    void knobChosen(int32_t tag, const gui::MenuPath& chosen);

    // Appends a separator and the "MIDI learn" entry, whose submenu lists the 128 controllers
    // in groups of 16 and ends with "clear". Returns the index of that entry.
    int appendSection(gui::Menu& menu) const;
    // `chosen` is the path below the section's entry: {group, controller in group} assigns
    // that controller to the tag alone, {the "clear" entry} clears the tag's controllers.
    void sectionChosen(int32_t tag, const gui::MenuPath& chosen);

    // Whether a menu control carries the section: the parameter menus that choose the modes,
    // the vocoder's bank and the effect, whose values a controller can usefully drive.
    static bool hasSection(int32_t tag);

  private:
    LearnPort& learn_;
};

}  // namespace kf::editor
