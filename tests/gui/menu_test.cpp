#include <gtest/gtest.h>

#include "gui_test_support.h"

namespace kf::gui {
namespace {

using test::Harness;
using Kind = Event::Kind;

Point centre(const Rect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Opens its menu from the press, as a knob's right-click or an option menu does.
struct MenuButton : View {
    MenuButton(const Rect& r, Menu m) : View(r), menu(std::move(m)) {}
    void draw(DrawContext&, const Rect&) override {}
    bool mouseDown(const Event& e) override {
        frame()->popupMenu(menu, e.pos, [this](const MenuPath& p) { results.push_back(p); });
        return true;
    }
    bool mouseUp(const Event&) override {
        ++releases;
        return true;
    }
    Menu menu;
    std::vector<MenuPath> results;
    int releases = 0;
};

Menu sampleMenu() {
    Menu m;
    m.addTitle("Preset");
    m.addEntry("Load", true, true);
    m.addEntry("Disabled", false);
    m.addSeparator();
    Menu& sub = m.addSubmenu("Factory");
    sub.addEntry("Robot");
    sub.addEntry("Choir");
    return m;
}

TEST(PopupMenus, StayOpenAfterTheOpeningReleaseAndChooseOnAFurtherClick) {
    Harness h;
    auto& button = h.frame->add(std::make_unique<MenuButton>(Rect{10, 10, 60, 30}, sampleMenu()));
    h.click({20, 20});
    ASSERT_TRUE(h.frame->isMenuOpen());
    EXPECT_EQ(button.releases, 1);  // the opening release went to the view, not the menu
    EXPECT_TRUE(button.results.empty());

    const PopupMenu& menu = *h.frame->menu();
    // Title, disabled entry and separator cannot be chosen.
    for (int item : {0, 2, 3}) h.click(centre(menu.itemRect(0, item)), 3000 + item * 1000);
    ASSERT_TRUE(h.frame->isMenuOpen());
    // Press on the submenu entry opens it; a click inside chooses from it.
    h.click(centre(h.frame->menu()->itemRect(0, 4)), 8000);
    ASSERT_EQ(h.frame->menu()->panelRects().size(), 2u);
    h.click(centre(h.frame->menu()->itemRect(1, 1)), 9000);
    EXPECT_FALSE(h.frame->isMenuOpen());
    ASSERT_EQ(button.results.size(), 1u);
    EXPECT_EQ(button.results[0], (MenuPath{4, 1}));

    // A press on one entry released on another chooses nothing.
    h.click({20, 20}, 12000);
    h.send(Kind::MouseDown, centre(h.frame->menu()->itemRect(0, 1)), 13000);
    h.send(Kind::MouseUp, centre(h.frame->menu()->itemRect(0, 0)), 13100);
    EXPECT_TRUE(h.frame->isMenuOpen());
    h.click(centre(h.frame->menu()->itemRect(0, 1)), 14000);
    EXPECT_EQ(button.results.back(), (MenuPath{1}));

    // An outside click dismisses with an empty path and does not reach the view under it.
    h.click({20, 20}, 16000);
    const int releases = button.releases;
    h.click({12, 12}, 17000);  // on the button, outside the menu
    EXPECT_FALSE(h.frame->isMenuOpen());
    EXPECT_EQ(button.results[2], MenuPath{});
    EXPECT_EQ(button.releases, releases);
    h.click({12, 12}, 18000);  // now the button has it again
    EXPECT_TRUE(h.frame->isMenuOpen());
    h.frame->closeMenu();
    EXPECT_EQ(button.results.size(), 4u);
}

TEST(PopupMenus, ShiftInsideTheWindowNearItsEdges) {
    Harness h;
    auto& button = h.frame->add(std::make_unique<MenuButton>(Rect{0, 0, 503, 404}, sampleMenu()));
    h.click({500, 400});
    const auto panels = h.frame->menu()->panelRects();
    ASSERT_EQ(panels.size(), 1u);
    EXPECT_TRUE(h.frame->bounds().contains(panels[0]));
    EXPECT_EQ(panels[0].right, 503);
    EXPECT_EQ(panels[0].bottom, 404);
    // Its submenu cannot go right of it: it opens to the left, still inside.
    h.send(Kind::MouseMove, centre(h.frame->menu()->itemRect(0, 4)), 2000);
    const auto open = h.frame->menu()->panelRects();
    ASSERT_EQ(open.size(), 2u);
    EXPECT_TRUE(h.frame->bounds().contains(open[1]));
    EXPECT_LE(open[1].right, open[0].left + 1);
    (void)button;
}

TEST(PopupMenus, LongListsArePagedInsideTheWindow) {
    Menu m;
    for (int i = 0; i < 100; ++i) m.addEntry("Preset " + std::to_string(i));
    Harness h;
    auto& button = h.frame->add(std::make_unique<MenuButton>(Rect{0, 0, 503, 404}, m));
    h.click({200, 100});
    const PopupMenu* menu = h.frame->menu();
    const int pages = menu->pageCount(0);
    EXPECT_GE(pages, 4);
    EXPECT_TRUE(h.frame->bounds().contains(menu->area()));
    EXPECT_TRUE(menu->itemRect(0, 99).empty());  // not on the first page
    // The ▼ row at the bottom turns the page, the wheel turns it back and forth.
    const Rect panel = menu->panelRects()[0];
    h.click({panel.left + 20, panel.bottom - 4}, 2000);
    EXPECT_EQ(menu->page(0), 1);
    Event wheel;
    wheel.kind = Kind::Wheel;
    wheel.pos = centre(panel);
    wheel.wheelY = -1;
    for (int i = 0; i < pages + 2; ++i) h.window->inject(wheel);
    h.frame->idle();
    EXPECT_EQ(menu->page(0), pages - 1);
    h.click(centre(menu->itemRect(0, 99)), 5000);
    ASSERT_EQ(button.results.size(), 1u);
    EXPECT_EQ(button.results[0], MenuPath{99});
}

TEST(PopupMenus, DrawnAboveEveryViewAndGoneWhenClosed) {
    Harness h;
    auto& button = h.frame->add(std::make_unique<MenuButton>(Rect{0, 0, 503, 404}, sampleMenu()));
    (void)button;
    h.frame->setBackgroundColor(Color::rgb(0x000000));
    h.frame->idle();
    h.click({100, 100});
    const Rect panel = h.frame->menu()->panelRects()[0];
    MenuStyle style;
    const std::uint32_t border = (style.border.r << 16) | (style.border.g << 8) | style.border.b;
    EXPECT_EQ(h.window->surface().pixel(panel.left, panel.top), border);
    h.frame->closeMenu();
    h.frame->idle();
    EXPECT_EQ(h.window->surface().pixel(panel.left, panel.top), 0u);
}

}  // namespace
}  // namespace kf::gui
