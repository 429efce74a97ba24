// Pop-up menus, drawn inside the window as the frame's top layer: no extra X windows and no
// pointer grabs, so they behave identically off-screen. A menu opened by a press stays open
// after that press's release and is chosen from with a further click, as desktop menus do;
// a press outside it dismisses it. Lists taller than the window are shown a page at a time
// with arrow rows (and the wheel) to turn pages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/draw_context.h"
#include "gui/events.h"
#include "gui/geometry.h"

namespace kf::gui {

class Menu;

struct MenuItem {
    enum class Kind : std::uint8_t { Entry, Separator, Title, Submenu };
    Kind kind = Kind::Entry;
    std::string text;
    bool enabled = true;  // a disabled entry is shown greyed and cannot be chosen
    bool checked = false;
    std::shared_ptr<Menu> submenu;  // Kind::Submenu
};

class Menu {
  public:
    Menu& addEntry(std::string text, bool enabled = true, bool checked = false);
    Menu& addSeparator();
    // A caption row; never selectable.
    Menu& addTitle(std::string text);
    // Adds an entry that opens a submenu and returns the submenu to fill.
    Menu& addSubmenu(std::string text);
    const std::vector<MenuItem>& items() const { return items_; }
    bool empty() const { return items_.empty(); }

  private:
    std::vector<MenuItem> items_;
};

// The chosen entry as item indices, outermost first: {3} is item 3 of the menu, {5, 2} is
// item 2 of the submenu at item 5. Empty when the menu was dismissed without a choice.
using MenuPath = std::vector<int>;
using MenuCallback = std::function<void(const MenuPath& chosen)>;

struct MenuStyle {
    Color background = Color::rgb(0x2b2d30);
    Color border = Color::rgb(0x6a6e75);
    Color text = Color::rgb(0xe6e6e6);
    Color disabledText = Color::rgb(0x7a7d82);
    Color titleBackground = Color::rgb(0x1d1e20);
    Color titleText = Color::rgb(0xd8a24a);
    Color highlight = Color::rgb(0xd8a24a);
    Color highlightText = Color::rgb(0x1d1e20);
    Color separator = Color::rgb(0x4a4d52);
};

// An open menu with its open submenus. The frame owns it while it is open and feeds it the
// mouse; it reports when a choice was made or it was dismissed.
class PopupMenu {
  public:
    static constexpr int kRowHeight = 16;
    static constexpr int kSeparatorHeight = 7;
    static constexpr int kPageRowHeight = 12;  // the ▲ / ▼ rows of a paged panel
    static constexpr int kBorder = 1;

    enum class Outcome { Open, Chosen, Dismissed };

    // Lays out the menu at `at` (its top-left), moved as needed to lie inside `bounds`.
    PopupMenu(Menu menu, Point at, const Rect& bounds, const MenuStyle& style);

    // Feed a mouse event; returns what became of the menu. A press outside every panel
    // dismisses it; a press and release on the same enabled entry chooses it (the path is
    // then in chosen()); a press on a submenu entry (or the pointer resting on it) opens the
    // submenu; the arrow rows and the wheel turn pages. The frame keeps from it the release
    // of the press that opened the menu.
    Outcome handle(const Event& e);
    const MenuPath& chosen() const { return chosen_; }
    // The menu shown, with its entries' states (enabled, ticked).
    const Menu& root() const { return *root_; }

    void draw(DrawContext& context);
    // The union of the open panels (what must be redrawn when it changes).
    Rect area() const;
    // The rects of the open panels, outermost first.
    std::vector<Rect> panelRects() const;
    // The rect of item `index` of the open panel at `level` (0 = outermost); empty when the
    // item is not on that panel's current page or the level is not open.
    Rect itemRect(int level, int index) const;
    int page(int level) const;
    int pageCount(int level) const;

  private:
    struct Row {
        int item;  // index in the menu, or -1 / -2 for the page-up / page-down rows
        Rect rect;
    };
    struct Panel {
        const Menu* menu;
        MenuPath path;  // the item indices that lead to this panel
        Rect rect;
        std::vector<int> pageStarts;  // first item of each page
        int page = 0;
        int hover = -1;  // item index under the pointer
        std::vector<Row> rows;
    };
    void openPanel(const Menu* menu, MenuPath path, Point at, int alignRight);
    void layoutRows(Panel& panel) const;
    int panelAt(Point p) const;
    const Row* rowAt(const Panel& panel, Point p) const;
    void turnPage(int level, int delta);
    void openSubmenu(int level, int item);

    std::shared_ptr<Menu> root_;
    Rect bounds_;
    MenuStyle style_;
    std::vector<Panel> panels_;
    int pressedPanel_ = -1;
    int pressedItem_ = -1;
    MenuPath chosen_;
};

// The width of `text` in the toolkit's font, in pixels, without a context at hand.
float measureText(std::string_view text);

}  // namespace kf::gui
