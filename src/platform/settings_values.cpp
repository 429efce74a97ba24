#include <charconv>
#include <string>

#include "platform/settings_store.h"

namespace kf::platform {

namespace {

constexpr std::string_view kNumberType = "number";
constexpr std::string_view kTextType = "text";

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
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

}  // namespace

// --- values ----------------------------------------------------------------------------------

const SettingsValues::Entry* SettingsValues::find(std::string_view name) const {
    for (const Entry& e : entries_)
        if (sameName(e.name, name)) return &e;
    return nullptr;
}

SettingsValues::Entry& SettingsValues::slot(std::string_view name) {
    for (Entry& e : entries_)
        if (sameName(e.name, name)) {
            e.name = std::string(name);
            return e;
        }
    Entry& added = entries_.emplace_back();
    added.name = std::string(name);
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
    e.isText = false;
    e.number = value;
    e.text.clear();
}

void SettingsValues::setText(std::string_view name, std::string_view value) {
    Entry& e = slot(name);
    e.isText = true;
    e.number = 0;
    e.text = std::string(value);
}

void SettingsValues::erase(std::string_view name) {
    std::erase_if(entries_, [&](const Entry& e) { return sameName(e.name, name); });
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
    std::string notes;
    const auto note = [&](const std::string& what) {
        if (notes.find(what) == std::string::npos) notes += (notes.empty() ? "" : ", ") + what;
    };
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
        note("it starts with a byte-order mark");
    }
    SettingsValues values;
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
            note("it has CRLF line ends");
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
        if (!read) note("line " + std::to_string(lineNumber) + " cannot be read");
    }
    if (!headerSeen) return std::nullopt;
    if (tolerated) *tolerated = notes;
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
