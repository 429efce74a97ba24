// The overlay page: a header with two sub-pages (the signal flow and a page of tips) that
// covers the panels while the top bar's info button is on. Its state belongs to the instance,
// so a window closed on the overlay reopens on it; the three page buttons only show it.
#pragma once

#include <cstdint>

#include "common/parameter_table.h"

namespace kf::editor {

enum class Overlay : uint8_t {
    Off,     // the main page
    Basics,  // the signal-flow sub-page
    Tips,    // the tips sub-page
};

// The overlay state after a click on page button `tag`. The info button toggles the overlay
// and always opens it on the basics; the sub-page buttons act like radio buttons, so a click
// on the one already on keeps it on instead of showing "off" over a page that stays.
constexpr Overlay overlayAfterClick(int32_t buttonTag, Overlay current) {
    switch (buttonTag) {
        case tag::settings_c:
            return current == Overlay::Off ? Overlay::Basics : Overlay::Off;
        case tag::basics_c:
            return current == Overlay::Off ? current : Overlay::Basics;
        case tag::tnt_c:
            return current == Overlay::Off ? current : Overlay::Tips;
        default:
            return current;
    }
}

// The state (0 off, 1 on) page button `tag` shows for an overlay state.
constexpr int overlayButtonState(int32_t buttonTag, Overlay current) {
    switch (buttonTag) {
        case tag::settings_c:
            return current != Overlay::Off;
        case tag::basics_c:
            return current == Overlay::Basics;
        case tag::tnt_c:
            return current == Overlay::Tips;
        default:
            return 0;
    }
}

}  // namespace kf::editor
