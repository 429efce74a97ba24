#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace kf::platform {

namespace {

constexpr std::string_view kNumberType = "number";
constexpr std::string_view kTextType = "text";

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

// A few line numbers say where to look; a file with thousands of bad lines gets a count.
constexpr int kListedLines = 3;

// What made a file readable only with tolerance; empty for a file in exactly our own form.
std::string toleranceNotes(bool byteOrderMark, bool crlf, const std::vector<int>& unreadable,
                           int unreadableCount) {
    std::string notes;
    const auto note = [&](const std::string& what) { notes += (notes.empty() ? "" : ", ") + what; };
    if (byteOrderMark) note("it starts with a byte-order mark");
    if (crlf) note("it has CRLF line ends");
    if (unreadable.empty()) return notes;
    std::string lines = unreadable.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
        const bool last =
            i + 1 == unreadable.size() && unreadableCount == static_cast<int>(unreadable.size());
        lines += (i == 0 ? "" : last ? " and " : ", ") + std::to_string(unreadable[i]);
    }
    if (const int more = unreadableCount - static_cast<int>(unreadable.size()); more > 0)
        lines += " and " + std::to_string(more) + " more";
    note(lines + " cannot be read");
    return notes;
}

}  // namespace

// --- values ----------------------------------------------------------------------------------

std::string SettingsValues::folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

const SettingsValues::Entry* SettingsValues::find(std::string_view name) const {
    const auto found = index_.find(folded(name));
    return found == index_.end() ? nullptr : &entries_[found->second];
}

SettingsValues::Entry& SettingsValues::slot(std::string_view name) {
    std::string key = folded(name);
    if (const auto found = index_.find(key); found != index_.end()) {
        Entry& e = entries_[found->second];
        if (e.name != name) {
            e.name = std::string(name);
            ++edits_;
        }
        return e;
    }
    // The entry first: the index never names a position that does not exist.
    Entry& added = entries_.emplace_back();
    added.name = std::string(name);
    index_.emplace(std::move(key), entries_.size() - 1);
    ++edits_;
    return added;
}

std::optional<int32_t> SettingsValues::number(std::string_view name) const {
    const Entry* e = find(name);
    if (!e || e->isText) return std::nullopt;
    return e->number;
}

std::optional<std::string> SettingsValues::text(std::string_view name) const {
    const Entry* e = find(name);
    if (!e || !e->isText || e->text.size() > kMaxTextBytes) return std::nullopt;
    return e->text.substr(0, kMaxTextChars);
}

void SettingsValues::setNumber(std::string_view name, int32_t value) {
    Entry& e = slot(name);
    if (!e.isText && e.number == value) return;
    e.isText = false;
    e.number = value;
    e.text.clear();
    ++edits_;
}

void SettingsValues::setText(std::string_view name, std::string_view value) {
    Entry& e = slot(name);
    if (e.isText && e.text == value) return;
    e.isText = true;
    e.number = 0;
    e.text = std::string(value);
    ++edits_;
}

void SettingsValues::erase(std::string_view name) {
    const auto found = index_.find(folded(name));
    if (found == index_.end()) return;
    const std::size_t position = found->second;
    index_.erase(found);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& [key, at] : index_)
        if (at > position) --at;
    ++edits_;
}

bool SettingsValues::contains(std::string_view name) const {
    return find(name) != nullptr;
}

std::string SettingsValues::serialize() const {
    std::string out(kFileHeader);
    out += '\n';
    for (const Entry& e : entries_) {
        out += e.isText ? kTextType : kNumberType;
        out += '\t';
        appendEscaped(out, e.name);
        out += '\t';
        if (e.isText)
            appendEscaped(out, e.text);
        else
            out += std::to_string(e.number);
        out += '\n';
    }
    return out;
}

std::optional<SettingsValues> SettingsValues::parse(std::string_view text, std::string* tolerated) {
    const bool byteOrderMark = text.starts_with("\xEF\xBB\xBF");
    if (byteOrderMark) text.remove_prefix(3);
    bool crlf = false;
    std::vector<int> unreadable;  // line numbers, the first few only
    int unreadableCount = 0;
    SettingsValues values;
    // Sized once for the entries the text can hold, instead of rehashing as it grows; a
    // value's line takes at least 8 bytes ("text\tx\t\n"), however many blank lines there are.
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    values.index_.reserve(std::min(lines, text.size() / 8));
    bool headerSeen = false;
    int lineNumber = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
            crlf = true;
        }
        if (!headerSeen) {
            if (line != kFileHeader) return std::nullopt;
            headerSeen = true;
            continue;
        }
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        const bool shaped = line.find('\0') == std::string_view::npos && tab2 != std::string_view::npos &&
                            line.find('\t', tab2 + 1) == std::string_view::npos;
        const std::string_view type = shaped ? line.substr(0, tab1) : std::string_view();
        const std::optional<std::string> name =
            shaped ? unescape(line.substr(tab1 + 1, tab2 - tab1 - 1)) : std::nullopt;
        const std::string_view raw = shaped ? line.substr(tab2 + 1) : std::string_view();
        bool read = false;
        if (name && !name->empty() && type == kNumberType) {
            int32_t value = 0;
            const auto [end2, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
            read = ec == std::errc() && end2 == raw.data() + raw.size();
            if (read) values.setNumber(*name, value);
        } else if (name && !name->empty() && type == kTextType) {
            const std::optional<std::string> value = unescape(raw);
            read = value.has_value();
            if (read) values.setText(*name, *value);
        }
        if (!read && unreadableCount++ < kListedLines) unreadable.push_back(lineNumber);
    }
    if (!headerSeen) return std::nullopt;
    if (tolerated) *tolerated = toleranceNotes(byteOrderMark, crlf, unreadable, unreadableCount);
    return values;
}

// --- single values, on every platform's store -------------------------------------------------

bool SettingsStore::readNumber(std::string_view name, int32_t& out) const {
    const std::optional<int32_t> value = readAll().number(name);
    if (value) out = *value;
    return value.has_value();
}

bool SettingsStore::readText(std::string_view name, std::string& out) const {
    std::optional<std::string> value = readAll().text(name);
    if (value) out = std::move(*value);
    return value.has_value();
}

bool SettingsStore::writeNumber(std::string_view name, int32_t value) {
    return update([&](SettingsValues& v) { v.setNumber(name, value); });
}

bool SettingsStore::writeText(std::string_view name, std::string_view value) {
    return update([&](SettingsValues& v) { v.setText(name, value); });
}

}  // namespace kf::platform
