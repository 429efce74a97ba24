// The Win32 window (under wine in our test runs): a child of a host's window, fed by the
// mouse messages Windows sends it, drawing through GDI+.
#include <gtest/gtest.h>
#include <windows.h>
// Needs the types windows.h declares.
#include <psapi.h>

#include "artwork/artwork.h"
#include "gui_test_support.h"

namespace kf::gui {
namespace {

using test::RecordingView;
using Kind = Event::Kind;

// A host's top-level window, made as hosts make one for a plug-in's editor.
class HostWindow {
  public:
    HostWindow() {
        static const ATOM kClass = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"test host";
            return RegisterClassW(&wc);
        }();
        hwnd = CreateWindowExW(0, MAKEINTATOM(kClass), L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 600,
                               500, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow() {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND hwnd;
};

// Runs the messages waiting for this thread, as a host's message loop does between idles.
void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

std::uint32_t shown(HWND w, int x, int y) {
    HDC dc = GetDC(w);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(w, dc);
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

INPUT mouse(DWORD flags, int wheel = 0) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.mouseData = static_cast<DWORD>(wheel);
    return in;
}

INPUT key(WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return in;
}

// A frame in a fresh child of `parent`, with the child's handle.
struct Editor {
    explicit Editor(HWND parent, const BitmapCache* bitmaps = nullptr) {
        std::string error;
        auto window = openChildWindow(parent, 503, 404, &error);
        EXPECT_NE(window, nullptr) << error;
        if (!window) return;
        frame = std::make_unique<Frame>(std::move(window), bitmaps);
        child = GetWindow(parent, GW_CHILD);
    }
    // Input as the user makes it: through the system's input queue, which sends the window
    // its messages (pointer steps move the pointer to window coordinates first). Then the
    // host's loop and the frame's idle run until the frame has had what arrived.
    void input(std::initializer_list<INPUT> steps, Point at) {
        POINT p{at.x, at.y};
        ClientToScreen(child, &p);
        SetCursorPos(p.x, p.y);
        for (INPUT step : steps) SendInput(1, &step, sizeof step);
        for (int i = 0; i < 5; ++i) {
            Sleep(10);
            pump();
            frame->idle();
        }
    }
    std::unique_ptr<Frame> frame;
    HWND child = nullptr;
};

TEST(Win32Window, EmbedsShowsOnlyWhatIsDirtyAndOutlivesItsParent) {
    std::string error;
    EXPECT_EQ(openChildWindow(nullptr, 503, 404, &error), nullptr);
    EXPECT_FALSE(error.empty());
    HostWindow host;
    ASSERT_NE(host.hwnd, nullptr);
    Editor editor(host.hwnd);
    ASSERT_NE(editor.frame, nullptr);
    Frame& frame = *editor.frame;
    frame.setBackgroundColor(Color::rgb(0x0000FF));
    auto& view = frame.add(std::make_unique<RecordingView>(Rect{100, 100, 200, 150}));
    view.color = Color::rgb(0xFF0000);
    frame.idle();
    pump();

    // One child, at 0,0 of the host's window, 503 x 404, showing what the frame drew.
    ASSERT_NE(editor.child, nullptr);
    EXPECT_EQ(GetWindow(editor.child, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetParent(editor.child), host.hwnd);
    EXPECT_TRUE(GetWindowLongW(editor.child, GWL_STYLE) & WS_CHILD);
    RECT r;
    GetWindowRect(editor.child, &r);
    MapWindowPoints(HWND_DESKTOP, host.hwnd, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 503);
    EXPECT_EQ(r.bottom, 404);
    EXPECT_EQ(shown(editor.child, 150, 120), 0xFF0000u);
    EXPECT_EQ(shown(editor.child, 10, 10), 0x0000FFu);

    // Only the dirty part goes to the window: the rest of the back buffer, changed behind the
    // frame's back, stays off screen until Windows asks for it to be painted again.
    DrawContext(frame.window().backBuffer(), nullptr).fillRect({0, 0, 503, 404}, Color::rgb(0x00FF00));
    view.color = Color::rgb(0xFFFF00);
    view.setDirty();
    frame.idle();
    EXPECT_EQ(shown(editor.child, 150, 120), 0xFFFF00u);
    EXPECT_EQ(shown(editor.child, 10, 10), 0x0000FFu);
    const RECT exposed{0, 0, 20, 20};
    InvalidateRect(editor.child, &exposed, FALSE);
    UpdateWindow(editor.child);
    EXPECT_EQ(shown(editor.child, 10, 10), 0x00FF00u);
    EXPECT_EQ(shown(editor.child, 30, 30), 0x0000FFu);

    // The host destroys its window first: idling and closing must not crash.
    DestroyWindow(host.hwnd);
    EXPECT_FALSE(frame.isAlive());
    view.setDirty();
    frame.idle();
}

// Opens a menu where it is pressed, as the editor's controls do.
struct MenuView : View {
    using View::View;
    void draw(DrawContext& c, const Rect& dirty) override { c.fillRect(dirty, Color::rgb(0x404040)); }
    bool mouseDown(const Event& e) override {
        Menu menu;
        menu.addEntry("Learn").addEntry("Forget");
        frame()->popupMenu(std::move(menu), e.pos, [this](const MenuPath& p) { chosen = p; });
        return true;
    }
    MenuPath chosen{-1};
};

TEST(Win32Window, ButtonsModifiersCaptureDoubleClicksWheelAndMenus) {
    HostWindow host;
    Editor editor(host.hwnd);
    ASSERT_NE(editor.frame, nullptr);
    auto& view = editor.frame->add(std::make_unique<RecordingView>(Rect{100, 100, 200, 150}));

    // A drag keeps the mouse: moves and the release outside the window reach the view.
    editor.input({key(VK_SHIFT, true), key(VK_CONTROL, true), mouse(MOUSEEVENTF_RIGHTDOWN)}, {120, 110});
    EXPECT_EQ(GetCapture(), editor.child);
    editor.input({key(VK_SHIFT, false), key(VK_CONTROL, false), mouse(MOUSEEVENTF_MOVE)}, {550, 420});
    editor.input({mouse(MOUSEEVENTF_RIGHTUP)}, {550, 420});
    EXPECT_EQ(GetCapture(), nullptr);
    ASSERT_GE(view.events.size(), 3u);
    const Event& press = view.events[view.events.size() == 3 ? 0 : 1];  // after the pointer's arrival
    EXPECT_EQ(press.kind, Kind::MouseDown);
    EXPECT_EQ(press.button, MouseButton::Right);
    EXPECT_EQ(press.modifiers, kShift | kControl);
    EXPECT_EQ(press.pos, (Point{120, 110}));
    EXPECT_EQ(view.events.back().kind, Kind::MouseUp);
    EXPECT_EQ(view.events.back().pos, (Point{550, 420}));
    const Event& drag = view.events[view.events.size() - 2];
    EXPECT_EQ(drag.kind, Kind::MouseMove);
    EXPECT_EQ(drag.pos, (Point{550, 420}));
    EXPECT_EQ(drag.buttons, buttonMask(MouseButton::Right));

    // Two quick presses in place are a double click.
    view.events.clear();
    editor.input({mouse(MOUSEEVENTF_LEFTDOWN), mouse(MOUSEEVENTF_LEFTUP), mouse(MOUSEEVENTF_LEFTDOWN),
                  mouse(MOUSEEVENTF_LEFTUP)},
                 {150, 120});
    ASSERT_GE(view.events.size(), 4u);
    EXPECT_EQ(view.events[view.events.size() - 2].clickCount, 2);

    // 120 units are one notch; finer wheels add up to one.
    view.events.clear();
    editor.input({mouse(MOUSEEVENTF_WHEEL, -240), mouse(MOUSEEVENTF_WHEEL, 60), mouse(MOUSEEVENTF_WHEEL, 60)},
                 {150, 120});
    // Wine's input queue drops horizontal wheels: the message they make, straight to the window.
    POINT screen{150, 120};
    ClientToScreen(editor.child, &screen);
    PostMessageW(editor.child, WM_MOUSEHWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(screen.x, screen.y));
    editor.input({}, {150, 120});
    std::vector<Event> wheels;
    for (const Event& e : view.events)
        if (e.kind == Kind::Wheel) wheels.push_back(e);
    ASSERT_EQ(wheels.size(), 4u);
    EXPECT_EQ(wheels[0].wheelY, -1);
    EXPECT_EQ(wheels[1].wheelY, -1);
    EXPECT_EQ(wheels[2].wheelY, 1);
    EXPECT_EQ(wheels[3].wheelX, 1);
    EXPECT_EQ(wheels[3].pos, (Point{150, 120}));

    // Another window takes the mouse mid-drag: the gesture ends there.
    view.events.clear();
    editor.input({mouse(MOUSEEVENTF_LEFTDOWN)}, {150, 120});
    SetCapture(host.hwnd);
    editor.input({mouse(MOUSEEVENTF_LEFTUP)}, {150, 120});
    ASSERT_GE(view.events.size(), 2u);
    EXPECT_EQ(view.events[view.events.size() - 2].kind, Kind::MouseDown);
    EXPECT_EQ(view.events.back().kind, Kind::MouseUp);
    EXPECT_EQ(editor.frame->capturingView(), nullptr);
    ReleaseCapture();

    // A menu opened by a press near the edge stays open after that release, inside the
    // window, and takes the next click.
    auto& menus = editor.frame->add(std::make_unique<MenuView>(Rect{400, 300, 503, 404}));
    editor.input({mouse(MOUSEEVENTF_RIGHTDOWN), mouse(MOUSEEVENTF_RIGHTUP)}, {495, 395});
    ASSERT_TRUE(editor.frame->isMenuOpen());
    EXPECT_TRUE(editor.frame->bounds().contains(editor.frame->menu()->area()));
    const Rect entry = editor.frame->menu()->itemRect(0, 1);
    editor.input({mouse(MOUSEEVENTF_LEFTDOWN), mouse(MOUSEEVENTF_LEFTUP)}, {entry.left + 5, entry.top + 5});
    EXPECT_EQ(menus.chosen, (MenuPath{1}));
}

std::size_t workingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize
                                                                                 : 0;
}

// A host reopens the editor in another of its windows, then opens and closes it again and
// again, as the instance's life goes on: each close leaves no window behind, and what each
// open loads (the bitmaps, drawing, a window) leaves no memory behind.
TEST(Win32Window, ReopensElsewhereAndOpenCloseCyclesLeaveNothingBehind) {
    HostWindow first, second;
    const DrawingUse instance;
    BitmapCache bitmaps([](int id) { return artwork::png(id); }, artwork::kFirstId, artwork::kFirstId);
    auto cycle = [&](HWND parent) {
        bitmaps.acquire();
        {
            Editor editor(parent, &bitmaps);
            if (!editor.frame) return;
            editor.frame->setBackground(artwork::kFirstId);
            editor.frame->popupMenu(Menu().addEntry("Open").addEntry("Save As..."), {200, 200}, nullptr);
            pump();
            editor.frame->idle();
        }
        bitmaps.release();
        pump();
    };
    cycle(first.hwnd);
    EXPECT_EQ(GetWindow(first.hwnd, GW_CHILD), nullptr);
    {
        Editor editor(second.hwnd);
        EXPECT_NE(editor.child, nullptr);
    }
    std::size_t at10 = 0;
    for (int i = 1; i <= 200; ++i) {
        cycle(second.hwnd);
        if (i == 10) at10 = workingSet();
    }
    EXPECT_EQ(GetWindow(second.hwnd, GW_CHILD), nullptr);
    EXPECT_LE(workingSet(), at10 + (1u << 20)) << "from " << at10 / 1024 << " kB after cycle 10";
}

}  // namespace
}  // namespace kf::gui
