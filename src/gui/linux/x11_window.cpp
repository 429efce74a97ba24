// The X11 backend, on XCB: a connection of our own, so a protocol error comes back to the
// request that caused it instead of through Xlib's process-wide error handler, which
// belongs to the host. No threads, no grabs, no global state.
#include <cairo-xcb.h>
#include <cairo.h>
#include <fcntl.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

#include "gui/linux/cairo_native.h"
#include "gui/platform_window.h"

namespace kf::gui {

namespace {

// X protocol error codes that mean our window (or its drawable) no longer exists.
constexpr std::uint8_t kBadWindow = 3;
constexpr std::uint8_t kBadDrawable = 9;

xcb_visualtype_t* findVisual(const xcb_setup_t* setup, xcb_window_t root, std::uint8_t depth,
                             xcb_visualid_t id) {
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens)) {
        if (screens.data->root != root) continue;
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem;
             xcb_depth_next(&depths)) {
            if (depths.data->depth != depth) continue;
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                 xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id == id) return visuals.data;
            }
        }
    }
    return nullptr;
}

class X11Window final : public PlatformWindow {
  public:
    X11Window(xcb_connection_t* connection, xcb_window_t window, cairo_surface_t* surface, int width,
              int height)
        : connection_(connection), window_(window), surface_(surface), back_(width, height) {}

    ~X11Window() override {
        // cairo keeps a device per connection, found again by the connection's address: it
        // must be finished before the connection goes, or a later connection that malloc
        // places at the same address meets the stale device (cairo then aborts).
        cairo_device_t* device = cairo_device_reference(cairo_surface_get_device(surface_));
        cairo_surface_finish(surface_);
        cairo_surface_destroy(surface_);
        if (device) {
            cairo_device_finish(device);
            cairo_device_destroy(device);
        }
        // When the parent went first, our window went with it: destroying it again would
        // only earn an error nobody reads. Either way the connection frees everything.
        if (!destroyed_) xcb_destroy_window(connection_, window_);
        xcb_flush(connection_);
        xcb_disconnect(connection_);
    }

    Rect bounds() const override { return {0, 0, back_.width(), back_.height()}; }
    Surface& backBuffer() override { return back_; }
    bool isAlive() const override { return !destroyed_ && !xcb_connection_has_error(connection_); }

    std::optional<Event> nextEvent() override {
        while (!xcb_connection_has_error(connection_)) {
            xcb_generic_event_t* raw = xcb_poll_for_event(connection_);
            if (!raw) return std::nullopt;
            std::optional<Event> e = translate(raw);
            std::free(raw);
            if (e) return e;
        }
        return std::nullopt;
    }

    void present(const Rect& area) override {
        if (!isAlive() || area.empty()) return;
        cairo_surface_flush(back_.native().surface);
        cairo_t* cr = cairo_create(surface_);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, back_.native().surface, 0, 0);
        cairo_rectangle(cr, area.left, area.top, area.width(), area.height());
        cairo_fill(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
        xcb_flush(connection_);
    }

  private:
    std::optional<Event> translate(const xcb_generic_event_t* raw) {
        Event e;
        switch (raw->response_type & 0x7F) {
            case 0: {  // an error of a request sent without a check
                const auto* error = reinterpret_cast<const xcb_generic_error_t*>(raw);
                if ((error->error_code == kBadWindow || error->error_code == kBadDrawable) &&
                    error->resource_id == window_) {
                    destroyed_ = true;
                }
                return std::nullopt;
            }
            case XCB_EXPOSE: {
                const auto* x = reinterpret_cast<const xcb_expose_event_t*>(raw);
                e.kind = Event::Kind::Expose;
                e.area = Rect::fromSize(x->x, x->y, x->width, x->height);
                return e;
            }
            case XCB_BUTTON_PRESS:
            case XCB_BUTTON_RELEASE: {
                const auto* b = reinterpret_cast<const xcb_button_press_event_t*>(raw);
                return eventFromX11Button((raw->response_type & 0x7F) == XCB_BUTTON_PRESS, b->detail,
                                          b->state, {b->event_x, b->event_y}, b->time);
            }
            case XCB_MOTION_NOTIFY: {
                const auto* m = reinterpret_cast<const xcb_motion_notify_event_t*>(raw);
                e.kind = Event::Kind::MouseMove;
                e.pos = {m->event_x, m->event_y};
                e.modifiers = modifiersFromX11State(m->state);
                e.time = m->time;
                return e;
            }
            case XCB_ENTER_NOTIFY:
            case XCB_LEAVE_NOTIFY: {
                const auto* c = reinterpret_cast<const xcb_enter_notify_event_t*>(raw);
                e.kind =
                    (raw->response_type & 0x7F) == XCB_ENTER_NOTIFY ? Event::Kind::Enter : Event::Kind::Leave;
                e.pos = {c->event_x, c->event_y};
                e.modifiers = modifiersFromX11State(c->state);
                e.time = c->time;
                return e;
            }
            case XCB_DESTROY_NOTIFY: {
                const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(raw);
                if (d->window == window_) destroyed_ = true;
                return std::nullopt;
            }
            default:
                return std::nullopt;
        }
    }

    xcb_connection_t* connection_;
    xcb_window_t window_;
    cairo_surface_t* surface_;
    Surface back_;
    bool destroyed_ = false;
};

}  // namespace

std::unique_ptr<PlatformWindow> openChildWindow(void* parentWindow, int width, int height,
                                                std::string* error) {
    auto fail = [&](xcb_connection_t* connection, const char* why) -> std::unique_ptr<PlatformWindow> {
        if (error) *error = why;
        if (connection) xcb_disconnect(connection);
        return nullptr;
    };
    // X11 ids are 32-bit values handed over in a pointer.
    const auto id = reinterpret_cast<std::uintptr_t>(parentWindow);
    if (id == 0 || id > UINT32_MAX) return fail(nullptr, "no X11 window");
    const auto parent = static_cast<xcb_window_t>(id);
    if (width <= 0 || height <= 0) return fail(nullptr, "bad window size");
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) return fail(connection, "cannot connect to the X display");
    // A program the editor starts (a file dialog) must not inherit the connection: it would
    // keep the socket open after we close it.
    const int fd = xcb_get_file_descriptor(connection);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);

    // Both questions go out before either answer is awaited.
    const auto geometryCookie = xcb_get_geometry(connection, parent);
    const auto attributesCookie = xcb_get_window_attributes(connection, parent);
    xcb_generic_error_t* geometryError = nullptr;
    xcb_generic_error_t* attributesError = nullptr;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, geometryCookie, &geometryError);
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, attributesCookie, &attributesError);
    std::free(geometryError);
    std::free(attributesError);
    xcb_visualtype_t* visual = nullptr;
    std::uint8_t depth = 0;
    if (geometry && attributes && attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT) {
        depth = geometry->depth;
        visual = findVisual(xcb_get_setup(connection), geometry->root, depth, attributes->visual);
    }
    std::free(geometry);
    std::free(attributes);
    if (!visual) return fail(connection, "the parent is not a window we can draw in");

    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t eventMask = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                    XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                    XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW |
                                    XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_generic_error_t* failed = xcb_request_check(
        connection,
        xcb_create_window_checked(connection, depth, window, parent, 0, 0, static_cast<std::uint16_t>(width),
                                  static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                  visual->visual_id, XCB_CW_EVENT_MASK, &eventMask));
    if (failed) {
        std::free(failed);
        return fail(connection, "the child window could not be created");
    }
    failed = xcb_request_check(connection, xcb_map_window_checked(connection, window));
    if (failed) {
        std::free(failed);
        xcb_destroy_window(connection, window);
        return fail(connection, "the child window could not be mapped");
    }
    cairo_surface_t* surface = cairo_xcb_surface_create(connection, window, visual, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        if (cairo_device_t* device = cairo_surface_get_device(surface)) cairo_device_finish(device);
        cairo_surface_destroy(surface);
        xcb_destroy_window(connection, window);
        return fail(connection, "cannot draw in the child window");
    }
    xcb_flush(connection);
    return std::make_unique<X11Window>(connection, window, surface, width, height);
}

}  // namespace kf::gui
