#include "host/editor_script.h"

#include <charconv>
#include <cstdlib>
#include <sstream>

namespace kf::host {
namespace {

std::vector<std::string> splitWords(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string> words;
    std::istringstream in{std::string(line)};
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool toInt(const std::string& s, int& out) {
    const char* first = s.data() + (s.starts_with('+') ? 1 : 0);
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

bool toFloat(std::string s, float& out) {
    if (s.starts_with("±")) s.erase(0, std::string_view("±").size());
    if (s.starts_with('+')) s.erase(0, 1);
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtof(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

// Reads one line's words into `step`; returns the complaint, empty when the line is good.
std::string parseStep(const std::vector<std::string>& w, ScriptStep& step) {
    using K = ScriptStep::Kind;
    const std::string& verb = w[0];
    const size_t n = w.size();
    auto position = [&](size_t at) { return n > at + 1 && toInt(w[at], step.x) && toInt(w[at + 1], step.y); };

    if (verb == "open" || verb == "close") {
        step.kind = verb == "open" ? K::Open : K::Close;
        return n == 1 ? "" : verb + " takes nothing";
    }
    if (verb == "down") {
        step.kind = K::Down;
        if (!position(1)) return "down needs X Y";
        for (size_t i = 3; i < n; ++i) {
            if (w[i] == "left")
                step.button = MouseButton::Left;
            else if (w[i] == "middle")
                step.button = MouseButton::Middle;
            else if (w[i] == "right")
                step.button = MouseButton::Right;
            else if (w[i] == "shift")
                step.modifiers |= kShift;
            else if (w[i] == "ctrl")
                step.modifiers |= kControl;
            else if (w[i] == "alt")
                step.modifiers |= kAlt;
            else
                return "unknown button or modifier '" + w[i] + "'";
        }
        return "";
    }
    if (verb == "move") {
        step.kind = K::Move;
        return n == 3 && position(1) ? "" : "move needs X Y";
    }
    if (verb == "up") {
        step.kind = K::Up;
        if (n == 1) return "";
        step.hasPosition = true;
        return n == 3 && position(1) ? "" : "up takes nothing or X Y";
    }
    if (verb == "wheel") {
        step.kind = K::Wheel;
        return n == 4 && position(1) && toInt(w[3], step.count) && step.count != 0
                   ? ""
                   : "wheel needs X Y and a non-zero N";
    }
    if (verb == "idle") {
        step.kind = K::Idle;
        step.count = 1;
        if (n == 1) return "";
        return n == 2 && toInt(w[1], step.count) && step.count > 0 ? "" : "idle takes a positive count";
    }
    if (verb == "process") {
        step.kind = K::Process;
        return n == 2 && toInt(w[1], step.count) && step.count > 0 ? ""
                                                                   : "process needs a positive frame count";
    }
    if (verb == "snapshot") {
        step.kind = K::Snapshot;
        if (n != 2) return "snapshot needs one file name";
        step.path = w[1];
        return "";
    }
    if (verb == "expect" && n >= 2) {
        if (w[1] == "no-open-edits") {
            step.kind = K::ExpectNoOpenEdits;
            return n == 2 ? "" : "expect no-open-edits takes nothing";
        }
        if (w[1] == "edited") {
            step.kind = K::ExpectEdited;
            return n == 3 && toInt(w[2], step.index) && step.index >= 0
                       ? ""
                       : "expect edited needs a parameter index";
        }
        if (w[1] == "held") {
            step.kind = K::ExpectHeld;
            return n == 3 && toInt(w[2], step.count) && step.count >= 0 && step.count < 128
                       ? ""
                       : "expect held needs a note 0..127";
        }
        if (w[1] == "param") {
            step.kind = K::ExpectParam;
            if (n < 4 || n > 5 || !toInt(w[2], step.index) || step.index < 0 || !toFloat(w[3], step.value))
                return "expect param needs an index and a value";
            step.relative = w[3].starts_with('+') || w[3].starts_with('-');
            if (n == 5 && (!toFloat(w[4], step.tolerance) || step.tolerance < 0.0f))
                return "bad tolerance '" + w[4] + "'";
            return "";
        }
    }
    return "unknown step '" + verb + (n > 1 && verb == "expect" ? " " + w[1] : "") + "'";
}

}  // namespace

std::optional<EditorScript> parseEditorScript(std::string_view text, std::string& error) {
    EditorScript script;
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        ++lineNumber;
        const auto words = splitWords(text.substr(start, end - start));
        start = end + 1;
        if (words.empty()) continue;
        ScriptStep step{};
        step.line = lineNumber;
        if (const std::string complaint = parseStep(words, step); !complaint.empty()) {
            error = "line " + std::to_string(lineNumber) + ": " + complaint;
            return std::nullopt;
        }
        script.steps.push_back(std::move(step));
    }
    return script;
}

}  // namespace kf::host
