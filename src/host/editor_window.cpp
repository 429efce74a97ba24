#include "host/editor_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <thread>
#include <vector>

namespace kf::host {
namespace {

// Xlib's default error handler ends the process. A host keeps running when a request
// fails (a plug-in's window gone, a capture of an unmapped window), so it installs its own
// handler once and counts what arrives. Errors arrive on the thread that made the Xlib
// call, which for a host and its editors is the one GUI thread.
std::atomic<int> gXErrors{0};
char gLastXError[256] = {};

int countXError(Display* display, XErrorEvent* event) {
    char text[160] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::snprintf(gLastXError, sizeof gLastXError, "%s (request %d.%d, resource 0x%lx)", text,
                  event->request_code, event->minor_code, event->resourceid);
    gXErrors.fetch_add(1);
    return 0;
}

Display* asDisplay(void* d) {
    return static_cast<Display*>(d);
}

// The 8-bit value of one colour channel of an X pixel, given the visual's mask for it.
unsigned channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const unsigned long value = (pixel & mask) >> shift;
    return bits >= 8 ? static_cast<unsigned>(value >> (bits - 8))
                     : static_cast<unsigned>(value * 255 / ((1ul << bits) - 1));
}

// A window of this size stands in until a plug-in that only knows its size once open
// reports it.
constexpr int kProvisionalWidth = 640, kProvisionalHeight = 480;

}  // namespace

std::unique_ptr<EditorWindow> EditorWindow::open(Plugin& plugin, std::string& error,
                                                 const std::string& displayName, OpenFailure* why) {
    OpenFailure ignored;
    OpenFailure& failure = why != nullptr ? *why : ignored;
    failure = OpenFailure::Opened;
    if (!(plugin.flags() & vst::effFlagsHasEditor)) {
        failure = OpenFailure::NoEditor;
        error = plugin.path() + " has no editor of its own";
        return nullptr;
    }
    static const bool handlerInstalled = (XSetErrorHandler(countXError), true);
    (void)handlerInstalled;
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (display == nullptr) {
        failure = OpenFailure::NoDisplay;
        const char* env = std::getenv("DISPLAY");
        error = "cannot open the X display " +
                (displayName.empty() ? std::string(env ? env : "(DISPLAY is not set)") : displayName);
        return nullptr;
    }
    std::unique_ptr<EditorWindow> w(new EditorWindow(plugin));
    w->display_ = display;
    w->errorBaseline_ = gXErrors.load();

    int width = 0, height = 0;
    const bool sizeKnown = w->editorRect(width, height);
    w->width_ = sizeKnown ? width : kProvisionalWidth;
    w->height_ = sizeKnown ? height : kProvisionalHeight;

    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = StructureNotifyMask;
    w->window_ = XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(w->width_),
                               static_cast<unsigned>(w->height_), 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWBackPixel | CWEventMask, &attributes);
    w->windowAlive_ = true;
    const std::string title = plugin.effectName().empty() ? plugin.path() : plugin.effectName();
    XStoreName(display, w->window_, title.c_str());
    Atom deleteAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, w->window_, &deleteAtom, 1);
    w->deleteAtom_ = deleteAtom;
    XMapWindow(display, w->window_);
    // Some editors draw only into a parent that is on screen: wait (briefly: a window
    // manager may be slow or absent) until the window is mapped.
    XSync(display, False);
    for (int tries = 0; tries < 50; ++tries) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(display, w->window_, &a) && a.map_state == IsViewable) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    if (!w->openEditor(error)) {
        failure = OpenFailure::Refused;
        return nullptr;
    }
    if (!sizeKnown) {
        if (w->editorRect(width, height)) {
            w->width_ = width;
            w->height_ = height;
        }
        XResizeWindow(display, w->window_, static_cast<unsigned>(w->width_),
                      static_cast<unsigned>(w->height_));
    }
    // A fixed size: the editor does not follow its window.
    XSizeHints* hints = XAllocSizeHints();
    if (hints != nullptr) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = w->width_;
        hints->min_height = hints->max_height = w->height_;
        XSetWMNormalHints(display, w->window_, hints);
        XFree(hints);
    }
    XSync(display, False);
    return w;
}

EditorWindow::~EditorWindow() {
    closeEditor();
    if (windowAlive_) XDestroyWindow(asDisplay(display_), window_);
    XCloseDisplay(asDisplay(display_));
}

bool EditorWindow::openEditor(std::string& error) {
    if (editorOpen_) return true;
    if (!windowAlive_) {
        error = "the editor's window is gone";
        return false;
    }
    // The parent window's id travels in ptr; value stays 0 (no Display* is shared), so the
    // plug-in makes its own connection, as with most Linux hosts.
    if (plugin_.dispatch(vst::effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(window_))) ==
        0) {
        error = plugin_.path() + " refused to open its editor";
        return false;
    }
    editorOpen_ = true;
    XSync(asDisplay(display_), False);
    return true;
}

void EditorWindow::closeEditor() {
    if (!editorOpen_) return;
    plugin_.dispatch(vst::effEditClose);
    editorOpen_ = false;
    XSync(asDisplay(display_), False);
}

void EditorWindow::destroyWindow() {
    if (!windowAlive_) return;
    XDestroyWindow(asDisplay(display_), window_);
    windowAlive_ = false;
    XSync(asDisplay(display_), False);
    handleEvents();
}

void EditorWindow::handleEvents() {
    Display* display = asDisplay(display_);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && static_cast<unsigned long>(event.xclient.data.l[0]) == deleteAtom_)
            closeRequested_ = true;
        if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
            windowAlive_ = false;
            closeRequested_ = true;
        }
    }
}

bool EditorWindow::capture(const std::string& pngPath, std::string& error) {
    idle();
    Display* display = asDisplay(display_);
    XSync(display, False);
    XWindowAttributes attributes{};
    if (!windowAlive_ || !XGetWindowAttributes(display, window_, &attributes) ||
        attributes.map_state != IsViewable) {
        error = "cannot capture the editor: its window is not on screen";
        return false;
    }
    XImage* image = XGetImage(display, window_, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        error = "cannot capture the editor: the X server returned no image of its window";
        return false;
    }
    std::vector<std::uint32_t> words(static_cast<std::size_t>(image->width) * image->height);
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            words[static_cast<std::size_t>(y) * image->width + x] = channel(p, image->red_mask) << 16 |
                                                                    channel(p, image->green_mask) << 8 |
                                                                    channel(p, image->blue_mask);
        }
    const int width = image->width, height = image->height;
    XDestroyImage(image);
    return writeCapture(width, height, words, pngPath, error);
}

int EditorWindow::protocolErrors() const {
    return gXErrors.load() - errorBaseline_;
}

std::string EditorWindow::lastProtocolError() const {
    return protocolErrors() > 0 ? std::string(gLastXError) : std::string();
}

}  // namespace kf::host
