#include "gui/popup_menu.h"

#include <algorithm>
#include <climits>

namespace kf::gui {

namespace {

constexpr int kTextLeft = 18;   // room for the check mark
constexpr int kTextRight = 16;  // room for the submenu arrow
constexpr int kMinWidth = 48;

int itemHeight(const MenuItem& item) {
    return item.kind == MenuItem::Kind::Separator ? PopupMenu::kSeparatorHeight : PopupMenu::kRowHeight;
}

bool selectable(const MenuItem& item) {
    return item.enabled && (item.kind == MenuItem::Kind::Entry || item.kind == MenuItem::Kind::Submenu);
}

}  // namespace

Menu& Menu::addEntry(std::string text, bool enabled, bool checked) {
    items_.push_back({MenuItem::Kind::Entry, std::move(text), enabled, checked, nullptr});
    return *this;
}

Menu& Menu::addSeparator() {
    items_.push_back({MenuItem::Kind::Separator, {}, false, false, nullptr});
    return *this;
}

Menu& Menu::addTitle(std::string text) {
    items_.push_back({MenuItem::Kind::Title, std::move(text), false, false, nullptr});
    return *this;
}

Menu& Menu::addSubmenu(std::string text) {
    auto sub = std::make_shared<Menu>();
    items_.push_back({MenuItem::Kind::Submenu, std::move(text), true, false, sub});
    return *sub;
}

float measureText(std::string_view text) {
    Surface scratch(1, 1);
    DrawContext context(scratch, nullptr);
    return context.textWidth(text);
}

PopupMenu::PopupMenu(Menu menu, Point at, const Rect& bounds, const MenuStyle& style)
    : root_(std::make_shared<Menu>(std::move(menu))), bounds_(bounds), style_(style) {
    openPanel(root_.get(), {}, at, INT_MIN);
}

void PopupMenu::openPanel(const Menu* menu, MenuPath path, Point at, int flipRight) {
    Panel panel;
    panel.menu = menu;
    panel.path = std::move(path);
    const auto& items = menu->items();

    float textWidth = 0.0f;
    {
        Surface scratch(1, 1);
        DrawContext context(scratch, nullptr);
        for (const MenuItem& item : items) {
            if (item.kind != MenuItem::Kind::Separator)
                textWidth = std::max(textWidth, context.textWidth(item.text));
        }
    }
    const int width = std::min(
        std::max(kMinWidth, 2 * kBorder + kTextLeft + static_cast<int>(textWidth + 0.999f) + kTextRight),
        bounds_.width());

    // Pages: as many items as fit between the two arrow rows, when the whole list does not
    // fit the window's height.
    int total = 2 * kBorder;
    for (const MenuItem& item : items) total += itemHeight(item);
    int height = total;
    panel.pageStarts.push_back(0);
    if (total > bounds_.height()) {
        const int budget = bounds_.height() - 2 * kBorder - 2 * kPageRowHeight;
        int used = 0, tallest = 0;
        for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            const int h = itemHeight(items[i]);
            if (used + h > budget && i > panel.pageStarts.back()) {
                panel.pageStarts.push_back(i);
                used = 0;
            }
            used += h;
            tallest = std::max(tallest, used);
        }
        height = 2 * kBorder + 2 * kPageRowHeight + tallest;
    }

    int x = at.x;
    int y = at.y;
    // A submenu that would leave the window's right edge opens to the left of its parent.
    if (flipRight != INT_MIN && x + width > bounds_.right) x = flipRight - width + 1;
    x = std::max(std::min(x, bounds_.right - width), bounds_.left);
    y = std::max(std::min(y, bounds_.bottom - height), bounds_.top);
    panel.rect = Rect::fromSize(x, y, width, height);
    layoutRows(panel);
    panels_.push_back(std::move(panel));
}

void PopupMenu::layoutRows(Panel& panel) const {
    panel.rows.clear();
    const Rect& r = panel.rect;
    const bool paged = panel.pageStarts.size() > 1;
    int y = r.top + kBorder;
    if (paged) {
        panel.rows.push_back({-1, {r.left + kBorder, y, r.right - kBorder, y + kPageRowHeight}});
        y += kPageRowHeight;
    }
    const auto& items = panel.menu->items();
    const int first = panel.pageStarts[panel.page];
    const int end = panel.page + 1 < static_cast<int>(panel.pageStarts.size())
                        ? panel.pageStarts[panel.page + 1]
                        : static_cast<int>(items.size());
    for (int i = first; i < end; ++i) {
        const int h = itemHeight(items[i]);
        panel.rows.push_back({i, {r.left + kBorder, y, r.right - kBorder, y + h}});
        y += h;
    }
    if (paged) {
        const int bottom = r.bottom - kBorder;
        panel.rows.push_back({-2, {r.left + kBorder, bottom - kPageRowHeight, r.right - kBorder, bottom}});
    }
}

int PopupMenu::panelAt(Point p) const {
    for (int i = static_cast<int>(panels_.size()) - 1; i >= 0; --i) {
        if (panels_[i].rect.contains(p)) return i;
    }
    return -1;
}

const PopupMenu::Row* PopupMenu::rowAt(const Panel& panel, Point p) const {
    for (const Row& row : panel.rows) {
        if (row.rect.contains(p)) return &row;
    }
    return nullptr;
}

void PopupMenu::turnPage(int level, int delta) {
    Panel& panel = panels_[level];
    const int page = std::clamp(panel.page + delta, 0, static_cast<int>(panel.pageStarts.size()) - 1);
    if (page == panel.page) return;
    panel.page = page;
    panel.hover = -1;
    layoutRows(panel);
    panels_.resize(level + 1);
}

void PopupMenu::openSubmenu(int level, int item) {
    const MenuItem& entry = panels_[level].menu->items()[item];
    if (entry.kind != MenuItem::Kind::Submenu || !entry.enabled || !entry.submenu) return;
    if (static_cast<int>(panels_.size()) > level + 1 && panels_[level + 1].path.back() == item) return;
    panels_.resize(level + 1);
    Rect itemRect;
    for (const Row& row : panels_[level].rows) {
        if (row.item == item) itemRect = row.rect;
    }
    MenuPath path = panels_[level].path;
    path.push_back(item);
    const Rect parent = panels_[level].rect;
    openPanel(entry.submenu.get(), std::move(path), {parent.right - 1, itemRect.top - kBorder}, parent.left);
}

PopupMenu::Outcome PopupMenu::handle(const Event& e) {
    const int level = panelAt(e.pos);
    const Row* row = level >= 0 ? rowAt(panels_[level], e.pos) : nullptr;
    switch (e.kind) {
        case Event::Kind::MouseDown:
            pressedPanel_ = level;
            pressedItem_ = -1;
            if (level < 0) return Outcome::Dismissed;
            if (!row) return Outcome::Open;
            if (row->item == -1 || row->item == -2) {
                turnPage(level, row->item == -1 ? -1 : 1);
                return Outcome::Open;
            }
            pressedItem_ = row->item;
            openSubmenu(level, row->item);
            return Outcome::Open;
        case Event::Kind::MouseUp: {
            const int pressedPanel = pressedPanel_;
            const int pressedItem = pressedItem_;
            pressedPanel_ = pressedItem_ = -1;
            if (level < 0 || level != pressedPanel || !row || row->item != pressedItem || pressedItem < 0) {
                return Outcome::Open;
            }
            const MenuItem& item = panels_[level].menu->items()[pressedItem];
            if (item.kind != MenuItem::Kind::Entry || !item.enabled) return Outcome::Open;
            chosen_ = panels_[level].path;
            chosen_.push_back(pressedItem);
            return Outcome::Chosen;
        }
        case Event::Kind::MouseMove: {
            if (level < 0) return Outcome::Open;
            Panel& panel = panels_[level];
            const int hover =
                row && row->item >= 0 && selectable(panel.menu->items()[row->item]) ? row->item : -1;
            if (hover == panel.hover) return Outcome::Open;
            panel.hover = hover;
            if (hover >= 0 && panel.menu->items()[hover].kind == MenuItem::Kind::Submenu) {
                openSubmenu(level, hover);
            } else if (hover >= 0) {
                panels_.resize(level + 1);
            }
            return Outcome::Open;
        }
        case Event::Kind::Wheel:
            // Wheel up shows the previous page, down the next.
            if (level >= 0 && e.wheelY != 0) turnPage(level, e.wheelY > 0 ? -1 : 1);
            return Outcome::Open;
        default:
            return Outcome::Open;
    }
}

Rect PopupMenu::area() const {
    Rect all;
    for (const Panel& p : panels_) all = all.united(p.rect);
    return all;
}

std::vector<Rect> PopupMenu::panelRects() const {
    std::vector<Rect> out;
    for (const Panel& p : panels_) out.push_back(p.rect);
    return out;
}

Rect PopupMenu::itemRect(int level, int index) const {
    if (level < 0 || level >= static_cast<int>(panels_.size())) return {};
    for (const Row& row : panels_[level].rows) {
        if (row.item == index) return row.rect;
    }
    return {};
}

int PopupMenu::page(int level) const {
    return level >= 0 && level < static_cast<int>(panels_.size()) ? panels_[level].page : 0;
}

int PopupMenu::pageCount(int level) const {
    return level >= 0 && level < static_cast<int>(panels_.size())
               ? static_cast<int>(panels_[level].pageStarts.size())
               : 0;
}

void PopupMenu::draw(DrawContext& context) {
    for (const Panel& panel : panels_) {
        context.fillRect(panel.rect, style_.background);
        context.strokeRect(panel.rect, style_.border);
        const auto& items = panel.menu->items();
        const int lastPage = static_cast<int>(panel.pageStarts.size()) - 1;
        for (const Row& row : panel.rows) {
            const Rect& r = row.rect;
            const float cx = (r.left + r.right) / 2.0f;
            const float cy = (r.top + r.bottom) / 2.0f;
            if (row.item == -1) {
                const PointF up[] = {{cx - 4, cy + 2}, {cx + 4, cy + 2}, {cx, cy - 2}};
                context.fillPolygon(up, panel.page > 0 ? style_.text : style_.disabledText);
                continue;
            }
            if (row.item == -2) {
                const PointF down[] = {{cx - 4, cy - 2}, {cx + 4, cy - 2}, {cx, cy + 2}};
                context.fillPolygon(down, panel.page < lastPage ? style_.text : style_.disabledText);
                continue;
            }
            const MenuItem& item = items[row.item];
            const Rect textRect{r.left + kTextLeft, r.top, r.right - kTextRight, r.bottom};
            switch (item.kind) {
                case MenuItem::Kind::Separator:
                    context.fillRect({r.left + 4, r.top + 3, r.right - 4, r.top + 4}, style_.separator);
                    break;
                case MenuItem::Kind::Title:
                    context.fillRect(r, style_.titleBackground);
                    context.drawText(item.text, {r.left + 6, r.top, r.right - 4, r.bottom}, Align::Left,
                                     style_.titleText);
                    break;
                case MenuItem::Kind::Entry:
                case MenuItem::Kind::Submenu: {
                    const bool hot = row.item == panel.hover && item.enabled;
                    if (hot) context.fillRect(r, style_.highlight);
                    const Color ink = !item.enabled ? style_.disabledText
                                      : hot         ? style_.highlightText
                                                    : style_.text;
                    if (item.checked) {
                        const PointF tick[] = {
                            {r.left + 5.0f, cy}, {r.left + 8.0f, cy + 3.0f}, {r.left + 13.0f, cy - 4.0f}};
                        context.polyline(tick, ink, 1.5f);
                    }
                    context.drawText(item.text, textRect, Align::Left, ink);
                    if (item.kind == MenuItem::Kind::Submenu) {
                        const float ax = r.right - 8.0f;
                        const PointF arrow[] = {{ax - 2, cy - 4}, {ax + 2, cy}, {ax - 2, cy + 4}};
                        context.fillPolygon(arrow, ink);
                    }
                    break;
                }
            }
        }
    }
}

}  // namespace kf::gui
