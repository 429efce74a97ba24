#include "editor/learn_menu.h"

#include <cstdio>

#include "common/parameter_table.h"

namespace kf::editor {

namespace {

enum KnobItem { kLearn, kClear };
constexpr int kGroups = LearnMenus::kControllers / LearnMenus::kPerSubmenu;

}  // namespace

gui::Menu LearnMenus::knobMenu(int32_t tag) const {
    gui::Menu menu;
    menu.addEntry("midi Learn", true, learn_.learnTarget() == tag);
    menu.addEntry("clear");
    return menu;
}

void LearnMenus::knobChosen(int32_t tag, const gui::MenuPath& chosen) {
    if (chosen.size() != 1) return;
    if (chosen[0] == kLearn)
        learn_.armLearn(learn_.learnTarget() == tag ? -1 : tag);
    else if (chosen[0] == kClear)
        learn_.clearLearn(tag);
}

int LearnMenus::appendSection(gui::Menu& menu) const {
    menu.addSeparator();
    const int index = static_cast<int>(menu.items().size());
    gui::Menu& section = menu.addSubmenu("MIDI learn");
    for (int g = 0; g < kGroups; ++g) {
        char title[24];
        std::snprintf(title, sizeof title, "CC %d - %d", g * kPerSubmenu, (g + 1) * kPerSubmenu - 1);
        gui::Menu& group = section.addSubmenu(title);
        for (int c = g * kPerSubmenu; c < (g + 1) * kPerSubmenu; ++c)
            group.addEntry(learn_.controllerName(c));
    }
    section.addSeparator();
    section.addEntry("clear");
    return index;
}

void LearnMenus::sectionChosen(int32_t tag, const gui::MenuPath& chosen) {
    if (chosen.size() == 2 && chosen[0] >= 0 && chosen[0] < kGroups && chosen[1] >= 0 &&
        chosen[1] < kPerSubmenu) {
        learn_.assignController(tag, chosen[0] * kPerSubmenu + chosen[1], 0);
    } else if (chosen.size() == 1 && chosen[0] == kGroups + 1) {  // after the separator
        learn_.clearLearn(tag);
    }
}

bool LearnMenus::hasSection(int32_t t) {
    return t == tag::effects_choice || t == tag::carrier_mode || t == tag::modulator_mode ||
           t == tag::articulate;
}

}  // namespace kf::editor
