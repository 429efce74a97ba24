#include "editor/preset_menu.h"

#include <optional>
#include <utility>

#include "editor/controls.h"
#include "gui/frame.h"

namespace kf::editor {

namespace {

const gui::Color kText = gui::Color::rgb(0xe6e6e6);

void addNodes(gui::Menu& menu, const std::vector<EditorHost::PresetNode>& nodes, const std::string& current) {
    for (const EditorHost::PresetNode& node : nodes) {
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

gui::Menu buildPresetMenu(const std::vector<EditorHost::PresetNode>& listing, const std::string& current) {
    gui::Menu menu;
    menu.addEntry("Select Folder");
    menu.addEntry("Save Preset");
    menu.addEntry("Load Preset");
    menu.addTitle("--Presets--");
    addNodes(menu, listing, current);
    return menu;
}

PresetMenu::PresetMenu(const LayoutRow& row, EditorHost& host, DialogRunner& dialogs)
    : View(row.rect), host_(host), dialogs_(dialogs), bitmap_(row.bitmap) {}

void PresetMenu::setProgramName(const std::string& name) {
    if (name == name_) return;
    name_ = name;
    setDirty();
}

bool PresetMenu::mouseDown(const gui::Event& e) {
    if (e.button != gui::MouseButton::Left || !frame()) return false;
    // Listed at every pop-up: files saved or folders changed since show up at once.
    listing_ = host_.listPresets(host_.presetFolder(), kMaxDepth);
    frame()->popupMenu(buildPresetMenu(listing_, host_.currentProgramName()), {rect().left, rect().bottom},
                       [this](const gui::MenuPath& chosen) { choose(chosen); });
    return true;
}

void PresetMenu::choose(const gui::MenuPath& chosen) {
    if (chosen.empty()) return;
    switch (chosen.front()) {
        case kSelectFolder:
            return runDialog(EditorHost::PresetDialog::kChooseFolder);
        case kSavePreset:
            return runDialog(EditorHost::PresetDialog::kSave);
        case kLoadPreset:
            return runDialog(EditorHost::PresetDialog::kLoad);
        default:
            break;
    }
    // Follow the path through the listing the menu showed; anything else is no preset.
    const std::vector<EditorHost::PresetNode>* level = &listing_;
    const EditorHost::PresetNode* node = nullptr;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int index = i == 0 ? chosen[i] - kFirstPreset : chosen[i];
        if (index < 0 || static_cast<std::size_t>(index) >= level->size()) return;
        node = &(*level)[static_cast<std::size_t>(index)];
        level = &node->children;
    }
    if (node && !node->isFolder) host_.loadPresetFile(node->path);
}

void PresetMenu::runDialog(EditorHost::PresetDialog which) {
    // The answer may come after this editor closed and reopened; it needs only the host.
    dialogs_.run(host_.presetDialog(which), [&host = host_, which](std::optional<std::string> chosen) {
        if (!chosen || chosen->empty()) return;  // cancelled: nothing changes
        switch (which) {
            case EditorHost::PresetDialog::kChooseFolder:
                host.setPresetFolder(*chosen);
                break;
            case EditorHost::PresetDialog::kSave:
                host.savePresetFile(*chosen);
                break;
            case EditorHost::PresetDialog::kLoad:
                host.loadPresetFile(*chosen);
                break;
        }
    });
}

void PresetMenu::draw(gui::DrawContext& context, const gui::Rect&) {
    if (bitmap_ > 0) context.drawBitmap(bitmap_, rect().topLeft());
    context.drawText(name_, dropDownTextArea(rect()), gui::Align::Center, kText);
}

}  // namespace kf::editor
