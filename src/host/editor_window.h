// A plug-in's editor in a real window of the desktop, hosted the way VST hosts do it: a
// top-level window sized from effEditGetRect, whose handle goes to effEditOpen as the parent
// of the plug-in's own child window (an X11 window id on Linux, an HWND on Windows), and
// effEditIdle on the same thread every 20 ms or so, between runs of the window's events.
// Only the binary interface is used, so any VST 2.4 plug-in with an editor can be shown.
// The build picks the window system: editor_window.cpp (Xlib) or editor_window_win32.cpp.
//
// Everything here runs on the one thread that created the window (hosts call open, idle
// and close from their GUI thread). The audio runs elsewhere (see AudioFeed).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/vst_host.h"

namespace kf::host {

// How often hosts idle an editor; plug-ins that poll their X events there rely on it.
inline constexpr std::chrono::milliseconds kEditorIdlePeriod{20};

class EditorWindow {
  public:
    enum class OpenFailure { Opened, NoDisplay, NoEditor, Refused };

    // Connects to the X display (`displayName`, or $DISPLAY when empty; unused on Windows),
    // creates and shows a top-level window of the editor's size, and opens the editor in it.
    // A plug-in whose rectangle is unknown before it opens gets a provisional window, resized
    // to the rectangle it reports once open. Returns null with a reason when there is no display,
    // the plug-in has no editor, or it refuses to open one.
    // `why`, when given, says which of these it was.
    static std::unique_ptr<EditorWindow> open(Plugin& plugin, std::string& error,
                                              const std::string& displayName = {},
                                              OpenFailure* why = nullptr);
    // Closes the editor (when open), destroys the window and disconnects.
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // The top-level window (X11 id or HWND): the parent handed to effEditOpen.
    std::uintptr_t windowId() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool editorOpen() const { return editorOpen_; }

    // One effEditIdle (only while the editor is open), then the window's own events (on
    // Windows, every message waiting for this thread, the plug-in's windows' among them).
    void idle();
    // Idles for about `duration` at the host's pace.
    void idleFor(std::chrono::milliseconds duration);
    // True once the person closed the window (its close button) or
    // something destroyed it.
    bool closeRequested() const { return closeRequested_; }

    // effEditOpen again in the same window after closeEditor(); false if the plug-in refuses.
    bool openEditor(std::string& error);
    // effEditClose; the window stays. Does nothing when the editor is not open.
    void closeEditor();
    // Destroys the parent window while the editor is still open, as a host tearing down
    // its GUI before it closes the editor does. closeEditor() and the destructor still
    // send effEditClose afterwards.
    void destroyWindow();

    // Captures what the window shows (the plug-in's child window included) into a PNG
    // file of the window's size. Idles once first, so the editor has drawn what it was sent.
    bool capture(const std::string& pngPath, std::string& error);

    // X protocol errors reported to the process since the window opened (Xlib's error
    // handler is the host's, process-wide: this counts errors of our connection and of
    // any plug-in that talks to X through Xlib), and the text of the latest one. Windows
    // reports failures to the call that made them: there these stay 0 and empty.
    int protocolErrors() const;
    std::string lastProtocolError() const;

  private:
    EditorWindow(Plugin& plugin) : plugin_(plugin) {}
    // The rectangle the plug-in reports, when it is a sane size for a window.
    bool editorRect(int& width, int& height);
    void handleEvents();
    // Writes 0xRRGGBB `words` (rows top to bottom) as a PNG file, replaced only when whole.
    static bool writeCapture(int width, int height, const std::vector<std::uint32_t>& words,
                             const std::string& pngPath, std::string& error);

    Plugin& plugin_;
    void* display_ = nullptr;  // X11: Display*, kept opaque so that users need not include Xlib
    std::uintptr_t window_ = 0;
    unsigned long deleteAtom_ = 0;  // X11: WM_DELETE_WINDOW
    int width_ = 0, height_ = 0;
    bool editorOpen_ = false;
    bool windowAlive_ = false;
    bool closeRequested_ = false;
    int errorBaseline_ = 0;
};

}  // namespace kf::host
