#include "editor/preset_menu.h"

#include <optional>
#include <utility>

#include "editor/controls.h"
#include "gui/frame.h"

namespace kf::editor {

namespace {

const gui::Color kText = gui::Color::rgb(0xe6e6e6);

void addNodes(gui::Menu& menu, const std::vector<PresetPort::PresetNode>& nodes, const std::string& current) {
    for (const PresetPort::PresetNode& node : nodes) {
        if (!node.isFolder) {
            menu.addEntry(node.name, true, node.name == current);
            continue;
        }
        gui::Menu& sub = menu.addSubmenu(node.name);
        if (node.children.empty()) sub.addEntry("(no presets)", false);
        addNodes(sub, node.children, current);
    }
}

}  // namespace

gui::Menu buildPresetMenu(const std::vector<PresetPort::PresetNode>& listing, const std::string& current) {
    gui::Menu menu;
    menu.addEntry("Select Folder");
    menu.addEntry("Save Preset");
    menu.addEntry("Load Preset");
    menu.addTitle("--Presets--");
    addNodes(menu, listing, current);
    return menu;
}

PresetMenu::PresetMenu(const LayoutRow& row, PresetPort& presets, DialogRunner& dialogs)
    : View(row.rect), presets_(presets), dialogs_(dialogs), bitmap_(row.bitmap) {}

void PresetMenu::setProgramName(const std::string& name) {
    if (name == name_) return;
    name_ = name;
    setDirty();
}

bool PresetMenu::mouseDown(const gui::Event& e) {
    if (e.button != gui::MouseButton::Left || !frame()) return false;
    // Listed at every pop-up: files saved or folders changed since show up at once.
    listing_ = presets_.listPresets(presets_.presetFolder(), kMaxDepth);
    frame()->popupMenu(buildPresetMenu(listing_, presets_.currentProgramName()), {rect().left, rect().bottom},
                       [this](const gui::MenuPath& chosen) { choose(chosen); });
    return true;
}

void PresetMenu::choose(const gui::MenuPath& chosen) {
    if (chosen.empty()) return;
    switch (chosen.front()) {
        case kSelectFolder:
            return runDialog(PresetPort::PresetDialog::kChooseFolder);
        case kSavePreset:
            return runDialog(PresetPort::PresetDialog::kSave);
        case kLoadPreset:
            return runDialog(PresetPort::PresetDialog::kLoad);
        default:
            break;
    }
    // Follow the path through the listing the menu showed; anything else is no preset.
    const std::vector<PresetPort::PresetNode>* level = &listing_;
    const PresetPort::PresetNode* node = nullptr;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int index = i == 0 ? chosen[i] - kFirstPreset : chosen[i];
        if (index < 0 || static_cast<std::size_t>(index) >= level->size()) return;
        node = &(*level)[static_cast<std::size_t>(index)];
        level = &node->children;
    }
    if (node && !node->isFolder) presets_.loadPresetFile(node->path);
}

void PresetMenu::runDialog(PresetPort::PresetDialog which) {
    // The answer may come after this editor closed and reopened; it needs only the port.
    dialogs_.run(presets_.presetDialog(which),
                 [&presets = presets_, which](std::optional<std::string> chosen) {
                     if (!chosen || chosen->empty()) return;  // cancelled: nothing changes
                     switch (which) {
                         case PresetPort::PresetDialog::kChooseFolder:
                             presets.setPresetFolder(*chosen);
                             break;
                         case PresetPort::PresetDialog::kSave:
                             presets.savePresetFile(*chosen);
                             break;
                         case PresetPort::PresetDialog::kLoad:
                             presets.loadPresetFile(*chosen);
                             break;
                     }
                 });
}

void PresetMenu::draw(gui::DrawContext& context, const gui::Rect&) {
    if (bitmap_ > 0) context.drawBitmap(bitmap_, rect().topLeft());
    context.drawText(name_, dropDownTextArea(rect()), gui::Align::Center, kText);
}

}  // namespace kf::editor
