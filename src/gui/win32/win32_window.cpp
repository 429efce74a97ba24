// The Windows backend: a child window of the host's window. Its window procedure runs inside
// the host's message loop; it turns input into event records that wait for the next idle,
// and paints exposed parts straight from the back buffer, which always holds the last frame.
#include <windows.h>
#include <windowsx.h>

#include <mutex>

#include "gui/platform_window.h"

namespace kf::gui {

namespace {

constexpr wchar_t kClassName[] = L"kf::gui child window";
// One notch of a wheel, in the units of WM_MOUSEWHEEL; finer wheels send fractions of it.
constexpr int kWheelNotch = WHEEL_DELTA;

HINSTANCE thisModule();

// The window class is registered while some window of this module uses it, so an unloaded
// module leaves no class behind whose procedure is gone.
class WindowClass {
  public:
    static bool acquire(WNDPROC procedure) {
        std::lock_guard lock(mutex());
        if (uses()++ > 0) return true;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = thisModule();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        // No CS_DBLCLKS: the frame counts clicks itself, by the same rule on every platform.
        if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
        --uses();
        return false;
    }
    static void release() {
        std::lock_guard lock(mutex());
        if (uses() > 0 && --uses() == 0) UnregisterClassW(kClassName, thisModule());
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static int& uses() {
        static int n = 0;
        return n;
    }
};

unsigned modifiers(WPARAM keys) {
    unsigned m = 0;
    if (keys & MK_SHIFT) m |= kShift;
    if (keys & MK_CONTROL) m |= kControl;
    if (GetKeyState(VK_MENU) < 0) m |= kAlt;
    if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0) m |= kSuper;
    return m;
}

class Win32Window final : public PlatformWindow {
  public:
    Win32Window(int width, int height) : back_(width, height) {}

    ~Win32Window() override {
        if (hwnd_) {
            // Detached first: the messages DestroyWindow sends find no window object.
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            DestroyWindow(hwnd_);
        }
        WindowClass::release();
    }

    bool create(HWND parent) {
        hwnd_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                back_.width(), back_.height(), parent, nullptr, thisModule(), this);
        return hwnd_ != nullptr;
    }

    Rect bounds() const override { return {0, 0, back_.width(), back_.height()}; }
    Surface& backBuffer() override { return back_; }
    bool isAlive() const override { return hwnd_ != nullptr; }

    std::optional<Event> nextEvent() override {
        if (queue_.empty()) return std::nullopt;
        Event e = queue_.front();
        queue_.pop_front();
        return e;
    }

    void present(const Rect& area) override {
        if (!hwnd_) return;
        if (HDC dc = GetDC(hwnd_)) {
            paint(dc, area);
            ReleaseDC(hwnd_, dc);
        }
    }

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return self ? self->handle(hwnd, message, w, l) : DefWindowProcW(hwnd, message, w, l);
    }

  private:
    // Copies `area` of the back buffer to the window, pixel for pixel: only its rows go to
    // GDI, described as a picture of their own, so the top-down source needs no offsets.
    void paint(HDC dc, const Rect& area) {
        const Rect r = area.intersection(bounds());
        if (r.empty()) return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = back_.width();
        info.bmiHeader.biHeight = -r.height();  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const std::uint32_t* rows = back_.data() + static_cast<std::ptrdiff_t>(r.top) * back_.width();
        StretchDIBits(dc, r.left, r.top, r.width(), r.height(), r.left, 0, r.width(), r.height(), rows, &info,
                      DIB_RGB_COLORS, SRCCOPY);
    }

    void queueMouse(Event::Kind kind, MouseButton button, WPARAM w, LPARAM l) {
        Event e;
        e.kind = kind;
        e.button = button;
        // Signed: while the mouse is captured, positions left of or above the window are negative.
        e.pos = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        e.modifiers = modifiers(GET_KEYSTATE_WPARAM(w));
        e.time = static_cast<std::uint32_t>(GetMessageTime());
        last_ = e.pos;
        queue_.push_back(e);
    }

    void press(MouseButton button, WPARAM w, LPARAM l) {
        // The window keeps the mouse while a button is held, as X11's implicit grab does:
        // the control under the press gets the drag and the release wherever they happen.
        if (held_ == 0) SetCapture(hwnd_);
        held_ |= buttonMask(button);
        queueMouse(Event::Kind::MouseDown, button, w, l);
    }

    void release(MouseButton button, WPARAM w, LPARAM l) {
        if (!(held_ & buttonMask(button))) return;  // its press went to another window
        held_ &= ~buttonMask(button);
        queueMouse(Event::Kind::MouseUp, button, w, l);
        if (held_ == 0) ReleaseCapture();
    }

    void wheel(int delta, bool horizontal, WPARAM w, LPARAM l) {
        // Whole notches only; a fine wheel's fractions add up until they make one.
        int& rest = horizontal ? wheelX_ : wheelY_;
        rest += delta;
        POINT p{GET_X_LPARAM(l), GET_Y_LPARAM(l)};  // screen coordinates
        ScreenToClient(hwnd_, &p);
        for (; rest >= kWheelNotch || rest <= -kWheelNotch;) {
            const int step = rest > 0 ? 1 : -1;
            rest -= step * kWheelNotch;
            Event e;
            e.kind = Event::Kind::Wheel;
            e.pos = {p.x, p.y};
            e.modifiers = modifiers(GET_KEYSTATE_WPARAM(w));
            e.time = static_cast<std::uint32_t>(GetMessageTime());
            // Positive deltas turn the wheel away from the user (up) or to the right.
            (horizontal ? e.wheelX : e.wheelY) = step;
            queue_.push_back(e);
        }
    }

    LRESULT handle(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT ps;
                if (HDC dc = BeginPaint(hwnd, &ps)) {
                    paint(dc, {ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom});
                    EndPaint(hwnd, &ps);
                }
                return 0;
            }
            case WM_ERASEBKGND:
                return 1;  // the paint covers everything: no flash of background first
            case WM_LBUTTONDOWN:
                press(MouseButton::Left, w, l);
                return 0;
            case WM_MBUTTONDOWN:
                press(MouseButton::Middle, w, l);
                return 0;
            case WM_RBUTTONDOWN:
                press(MouseButton::Right, w, l);
                return 0;
            case WM_LBUTTONUP:
                release(MouseButton::Left, w, l);
                return 0;
            case WM_MBUTTONUP:
                release(MouseButton::Middle, w, l);
                return 0;
            case WM_RBUTTONUP:
                release(MouseButton::Right, w, l);
                return 0;
            case WM_MOUSEMOVE:
                if (!tracking_) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
                    tracking_ = TrackMouseEvent(&track);
                    queueMouse(Event::Kind::Enter, MouseButton::None, w, l);
                }
                queueMouse(Event::Kind::MouseMove, MouseButton::None, w, l);
                return 0;
            case WM_MOUSELEAVE: {
                tracking_ = false;
                Event e;
                e.kind = Event::Kind::Leave;
                e.pos = last_;
                e.time = static_cast<std::uint32_t>(GetMessageTime());
                queue_.push_back(e);
                return 0;
            }
            case WM_MOUSEWHEEL:
                wheel(GET_WHEEL_DELTA_WPARAM(w), false, w, l);
                return 0;
            case WM_MOUSEHWHEEL:
                wheel(GET_WHEEL_DELTA_WPARAM(w), true, w, l);
                return 0;
            case WM_CAPTURECHANGED:
                // Something else took the mouse while buttons were held (a host's dialog, a
                // window switch): their releases will never come, so the gestures end here.
                if (reinterpret_cast<HWND>(l) != hwnd && held_ != 0) {
                    for (MouseButton b : {MouseButton::Left, MouseButton::Middle, MouseButton::Right}) {
                        if (!(held_ & buttonMask(b))) continue;
                        Event e;
                        e.kind = Event::Kind::MouseUp;
                        e.button = b;
                        e.pos = last_;
                        e.time = static_cast<std::uint32_t>(GetMessageTime());
                        queue_.push_back(e);
                    }
                    held_ = 0;
                }
                return 0;
            case WM_NCDESTROY:
                // Gone, whether we closed it or the host destroyed its own window first.
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                hwnd_ = nullptr;
                return DefWindowProcW(hwnd, message, w, l);
            default:
                return DefWindowProcW(hwnd, message, w, l);
        }
    }

    HWND hwnd_ = nullptr;
    Surface back_;
    std::deque<Event> queue_;
    unsigned held_ = 0;  // buttonMask bits of the buttons pressed in this window
    Point last_;
    int wheelX_ = 0, wheelY_ = 0;  // wheel units short of a notch
    bool tracking_ = false;        // a WM_MOUSELEAVE has been asked for
};

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Win32Window::procedure), &module);
    return module;
}

}  // namespace

std::unique_ptr<PlatformWindow> openChildWindow(void* parentWindow, int width, int height,
                                                std::string* error) {
    auto fail = [&](const char* why) -> std::unique_ptr<PlatformWindow> {
        if (error) *error = why;
        return nullptr;
    };
    const auto parent = static_cast<HWND>(parentWindow);
    if (!parent || !IsWindow(parent)) return fail("the parent is not a window");
    if (width <= 0 || height <= 0) return fail("bad window size");
    if (!WindowClass::acquire(&Win32Window::procedure))
        return fail("the window class could not be registered");
    // From here the window object owns a use of the class.
    auto window = std::make_unique<Win32Window>(width, height);
    if (!window->create(parent)) return fail("the child window could not be created");
    return window;
}

}  // namespace kf::gui
