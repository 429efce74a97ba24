#include "host/editor_script.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <span>
#include <sstream>
#include <string_view>
#include <utility>

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

using Args = std::span<const std::string>;
using K = ScriptStep::Kind;

bool position(Args a, std::size_t at, ScriptStep& step) {
    return a.size() > at + 1 && toInt(a[at], step.x) && toInt(a[at + 1], step.y);
}

bool positiveCount(Args a, ScriptStep& step) {
    return a.size() == 1 && toInt(a[0], step.count) && step.count > 0;
}

// Each reader takes the words after the step's name and returns its complaint, empty when
// the line is good.
std::string readNothing(Args a, ScriptStep& step) {
    return a.empty() ? "" : std::string(step.kind == K::Open ? "open" : "close") + " takes nothing";
}

std::string readDown(Args a, ScriptStep& step) {
    if (!position(a, 0, step)) return "down needs X Y";
    static const std::pair<std::string_view, MouseButton> kButtons[] = {
        {"left", MouseButton::Left}, {"middle", MouseButton::Middle}, {"right", MouseButton::Right}};
    static const std::pair<std::string_view, Modifier> kModifiers[] = {
        {"shift", kShift}, {"ctrl", kControl}, {"alt", kAlt}};
    for (const std::string& word : a.subspan(2)) {
        const auto button = std::find_if(std::begin(kButtons), std::end(kButtons),
                                         [&](const auto& b) { return word == b.first; });
        const auto modifier = std::find_if(std::begin(kModifiers), std::end(kModifiers),
                                           [&](const auto& m) { return word == m.first; });
        if (button != std::end(kButtons))
            step.button = button->second;
        else if (modifier != std::end(kModifiers))
            step.modifiers |= modifier->second;
        else
            return "unknown button or modifier '" + word + "'";
    }
    return "";
}

std::string readMove(Args a, ScriptStep& step) {
    return a.size() == 2 && position(a, 0, step) ? "" : "move needs X Y";
}

std::string readUp(Args a, ScriptStep& step) {
    if (a.empty()) return "";
    step.hasPosition = true;
    return a.size() == 2 && position(a, 0, step) ? "" : "up takes nothing or X Y";
}

std::string readWheel(Args a, ScriptStep& step) {
    return a.size() == 3 && position(a, 0, step) && toInt(a[2], step.count) && step.count != 0
               ? ""
               : "wheel needs X Y and a non-zero N";
}

std::string readIdle(Args a, ScriptStep& step) {
    step.count = 1;
    return a.empty() || positiveCount(a, step) ? "" : "idle takes a positive count";
}

std::string readProcess(Args a, ScriptStep& step) {
    return positiveCount(a, step) ? "" : "process needs a positive frame count";
}

std::string readSnapshot(Args a, ScriptStep& step) {
    if (a.size() != 1) return "snapshot needs one file name";
    step.path = a[0];
    return "";
}

std::string readNoOpenEdits(Args a, ScriptStep&) {
    return a.empty() ? "" : "expect no-open-edits takes nothing";
}

std::string readEdited(Args a, ScriptStep& step) {
    return a.size() == 1 && toInt(a[0], step.index) && step.index >= 0
               ? ""
               : "expect edited needs a parameter index";
}

std::string readHeld(Args a, ScriptStep& step) {
    return a.size() == 1 && toInt(a[0], step.count) && step.count >= 0 && step.count < 128
               ? ""
               : "expect held needs a note 0..127";
}

std::string readParam(Args a, ScriptStep& step) {
    if (a.size() < 2 || a.size() > 3 || !toInt(a[0], step.index) || step.index < 0 ||
        !toFloat(a[1], step.value))
        return "expect param needs an index and a value";
    step.relative = a[1].starts_with('+') || a[1].starts_with('-');
    if (a.size() == 3 && (!toFloat(a[2], step.tolerance) || step.tolerance < 0.0f))
        return "bad tolerance '" + a[2] + "'";
    return "";
}

// The steps a script knows, by the words that name them ("expect" takes a second word).
struct StepRow {
    std::string_view name;
    K kind;
    std::string (*read)(Args, ScriptStep&);
};

constexpr StepRow kSteps[] = {
    {"open", K::Open, readNothing},
    {"close", K::Close, readNothing},
    {"down", K::Down, readDown},
    {"move", K::Move, readMove},
    {"up", K::Up, readUp},
    {"wheel", K::Wheel, readWheel},
    {"idle", K::Idle, readIdle},
    {"process", K::Process, readProcess},
    {"snapshot", K::Snapshot, readSnapshot},
    {"expect no-open-edits", K::ExpectNoOpenEdits, readNoOpenEdits},
    {"expect edited", K::ExpectEdited, readEdited},
    {"expect held", K::ExpectHeld, readHeld},
    {"expect param", K::ExpectParam, readParam},
};

// Reads one line's words into `step`; returns the complaint, empty when the line is good.
std::string parseStep(const std::vector<std::string>& w, ScriptStep& step) {
    const std::size_t nameWords = w[0] == "expect" && w.size() > 1 ? 2 : 1;
    const std::string name = nameWords == 2 ? w[0] + " " + w[1] : w[0];
    for (const StepRow& row : kSteps)
        if (row.name == name) {
            step.kind = row.kind;
            return row.read(Args(w).subspan(nameWords), step);
        }
    return "unknown step '" + name + "'";
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
