// The editor window on Windows: a top-level window of its own class, whose HWND goes to
// effEditOpen; idle() runs the thread's messages as a host's message loop does.
#include <windows.h>

#include <vector>

#include "host/editor_window.h"
#include "platform/win32/wide_text.h"

namespace kf::host {
namespace {

constexpr wchar_t kClassName[] = L"kf::host editor window";
// Set on the window when the person asks to close it; the window stays until the host closes it.
constexpr wchar_t kCloseAsked[] = L"kf::host close asked";
constexpr int kProvisionalWidth = 640, kProvisionalHeight = 480;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) {
        // The editor must be closed before its parent goes: the host decides when.
        SetPropW(hwnd, kCloseAsked, reinterpret_cast<HANDLE>(1));
        return 0;
    }
    if (message == WM_NCDESTROY) RemovePropW(hwnd, kCloseAsked);
    return DefWindowProcW(hwnd, message, w, l);
}

bool registerClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

HWND asWindow(std::uintptr_t w) {
    return reinterpret_cast<HWND>(w);
}

// Sizes the window so that its client area, where the editor sits, is width x height.
void setClientSize(HWND hwnd, int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::unique_ptr<EditorWindow> EditorWindow::open(Plugin& plugin, std::string& error, const std::string&,
                                                 OpenFailure* why) {
    OpenFailure ignored;
    OpenFailure& failure = why != nullptr ? *why : ignored;
    failure = OpenFailure::Opened;
    if (!(plugin.flags() & vst::effFlagsHasEditor)) {
        failure = OpenFailure::NoEditor;
        error = plugin.path() + " has no editor of its own";
        return nullptr;
    }
    std::unique_ptr<EditorWindow> w(new EditorWindow(plugin));
    int width = 0, height = 0;
    const bool sizeKnown = w->editorRect(width, height);
    w->width_ = sizeKnown ? width : kProvisionalWidth;
    w->height_ = sizeKnown ? height : kProvisionalHeight;

    const std::string title = plugin.effectName().empty() ? plugin.path() : plugin.effectName();
    RECT outer{0, 0, w->width_, w->height_};
    AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
    const HWND hwnd = registerClass() ? CreateWindowExW(0, kClassName, platform::widen(title).c_str(), kStyle,
                                                        CW_USEDEFAULT, CW_USEDEFAULT,
                                                        outer.right - outer.left, outer.bottom - outer.top,
                                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)
                                      : nullptr;
    if (hwnd == nullptr) {
        failure = OpenFailure::NoDisplay;
        error = "cannot create a window for the editor: " + platform::systemErrorText(GetLastError());
        return nullptr;
    }
    w->window_ = reinterpret_cast<std::uintptr_t>(hwnd);
    w->windowAlive_ = true;
    // Some editors draw only into a parent that is on screen.
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd);
    UpdateWindow(hwnd);

    if (!w->openEditor(error)) {
        failure = OpenFailure::Refused;
        return nullptr;
    }
    if (!sizeKnown) {
        if (w->editorRect(width, height)) {
            w->width_ = width;
            w->height_ = height;
        }
        setClientSize(hwnd, w->width_, w->height_);
    }
    w->handleEvents();
    return w;
}

EditorWindow::~EditorWindow() {
    closeEditor();
    if (windowAlive_) DestroyWindow(asWindow(window_));
    handleEvents();
}

bool EditorWindow::openEditor(std::string& error) {
    if (editorOpen_) return true;
    if (!windowAlive_ || !IsWindow(asWindow(window_))) {
        error = "the editor's window is gone";
        return false;
    }
    if (plugin_.dispatch(vst::effEditOpen, 0, 0, asWindow(window_)) == 0) {
        error = plugin_.path() + " refused to open its editor";
        return false;
    }
    editorOpen_ = true;
    return true;
}

void EditorWindow::closeEditor() {
    if (!editorOpen_) return;
    plugin_.dispatch(vst::effEditClose);
    editorOpen_ = false;
    handleEvents();
}

void EditorWindow::destroyWindow() {
    if (!windowAlive_) return;
    DestroyWindow(asWindow(window_));
    handleEvents();
}

// Every message of this thread, as a host's loop runs them: the plug-in's child window gets
// its input and paints from here.
void EditorWindow::handleEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const HWND hwnd = asWindow(window_);
    if (windowAlive_ && !IsWindow(hwnd)) {
        windowAlive_ = false;
        closeRequested_ = true;
    }
    if (windowAlive_ && GetPropW(hwnd, kCloseAsked) != nullptr) closeRequested_ = true;
}

// What the window's client area shows, the plug-in's child window in it, copied from the
// window's own picture (so other windows over it do not show) and written with the toolkit's
// PNG encoder.
bool EditorWindow::capture(const std::string& pngPath, std::string& error) {
    idle();
    const HWND hwnd = asWindow(window_);
    RECT client{};
    if (!windowAlive_ || !IsWindowVisible(hwnd) || !GetClientRect(hwnd, &client) || client.right <= 0 ||
        client.bottom <= 0) {
        error = "cannot capture the editor: its window is not on screen";
        return false;
    }
    const int width = client.right, height = client.bottom;
    std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
    HDC source = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap != nullptr && bits != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        // 32-bit DIB pixels are 0x00RRGGBB words already; the unused byte may hold anything.
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        for (std::size_t i = 0; i < words.size(); ++i) words[i] = pixels[i] & 0xFFFFFFu;
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, source);
    if (!copied) {
        error = "cannot capture the editor: Windows gave no picture of its window";
        return false;
    }
    return writeCapture(width, height, words, pngPath, error);
}

int EditorWindow::protocolErrors() const {
    return 0;
}

std::string EditorWindow::lastProtocolError() const {
    return {};
}

}  // namespace kf::host
