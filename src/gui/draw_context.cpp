// What every platform's drawing shares: the pixel memory of a surface, the bitmap look-ups,
// and the text layout (ellipsis, alignment, baseline) over the platform's measuring.
#include "gui/draw_context.h"

#include <algorithm>
#include <cmath>

#include "gui/bitmap_cache.h"

namespace kf::gui {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

char32_t nextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    int length = 1;
    char32_t c = lead;
    char32_t least = 0;  // the smallest value a sequence of this length may carry
    if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0x80) {
        ++at;
        return kReplacement;
    }
    if (text.size() - at < static_cast<std::size_t>(length)) {
        ++at;
        return kReplacement;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kReplacement;
        }
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not text either.
    if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        ++at;
        return kReplacement;
    }
    at += length;
    return c;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) appendUtf8(out, nextCodePoint(text, at));
    return out;
}

// ---- Surface ----

std::uint32_t Surface::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return data()[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFFu;
}

std::vector<std::uint32_t> Surface::pixels() const {
    const std::uint32_t* words = data();
    std::vector<std::uint32_t> out(words, words + pixels_.size());
    for (std::uint32_t& p : out) p &= 0xFFFFFFu;
    return out;
}

// ---- DrawContext ----

void DrawContext::strokeRect(const Rect& r, Color c, int width) {
    // Four filled bands rather than a stroked path: whole pixels, no antialiased edges.
    if (r.empty() || width <= 0) return;
    const int w = std::min({width, (r.width() + 1) / 2, (r.height() + 1) / 2});
    fillRect({r.left, r.top, r.right, r.top + w}, c);
    fillRect({r.left, r.bottom - w, r.right, r.bottom}, c);
    fillRect({r.left, r.top + w, r.left + w, r.bottom - w}, c);
    fillRect({r.right - w, r.top + w, r.right, r.bottom - w}, c);
}

void DrawContext::drawBitmap(const Bitmap& bitmap, Point at) {
    blit(bitmap, {0, 0, bitmap.width(), bitmap.height()}, at);
}

void DrawContext::drawBitmapFrame(const Bitmap& bitmap, int frame, int frameHeight, const Rect& dest) {
    if (frameHeight <= 0 || dest.empty()) return;
    const int frames = std::max(bitmap.height() / frameHeight, 1);
    frame = std::clamp(frame, 0, frames - 1);
    const Rect source = Rect::fromSize(0, frame * frameHeight, std::min(dest.width(), bitmap.width()),
                                       std::min(dest.height(), frameHeight))
                            .intersection({0, 0, bitmap.width(), bitmap.height()});
    if (!source.empty()) blit(bitmap, source, dest.topLeft());
}

void DrawContext::drawBitmapFrameIn(int id, int frame, int frameHeight, Point at,
                                    std::span<const Rect> areas) {
    const Bitmap* b = bitmap(id);
    if (!b || frameHeight <= 0 || areas.empty()) return;
    frame = std::clamp(frame, 0, std::max(b->height() / frameHeight, 1) - 1);
    const Rect inFrame{at.x, at.y, at.x + b->width(), at.y + frameHeight};
    blitIn(*b, {at.x, at.y - frame * frameHeight}, inFrame, areas);
}

const Bitmap* DrawContext::bitmap(int id) const {
    return bitmaps_ ? bitmaps_->get(id) : nullptr;
}

void DrawContext::drawBitmap(int id, Point at) {
    if (const Bitmap* b = bitmap(id)) drawBitmap(*b, at);
}

void DrawContext::drawBitmapFrame(int id, int frame, int frameHeight, const Rect& dest) {
    if (const Bitmap* b = bitmap(id)) drawBitmapFrame(*b, frame, frameHeight, dest);
}

float DrawContext::textWidth(std::string_view text) {
    return text.empty() ? 0.0f : measure(validUtf8(text));
}

std::string DrawContext::ellipsize(std::string_view text, float maxWidth) {
    const std::string valid = validUtf8(text);
    if (textWidth(valid) <= maxWidth) return valid;
    // Character boundaries, so the cut never splits a UTF-8 sequence.
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < valid.size(); nextCodePoint(valid, at)) cuts.push_back(at);
    for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
        std::string candidate = valid.substr(0, *it);
        while (!candidate.empty() && candidate.back() == ' ') candidate.pop_back();
        candidate += kEllipsis;
        if (measure(candidate) <= maxWidth) return candidate;
    }
    return std::string(kEllipsis);
}

void DrawContext::drawText(std::string_view text, const Rect& r, Align align, Color c, bool ellipsis) {
    if (text.empty() || r.empty()) return;
    const std::string shown = ellipsis ? ellipsize(text, static_cast<float>(r.width())) : validUtf8(text);
    const float width = measure(shown);
    float x = static_cast<float>(r.left);
    if (align == Align::Center) x = r.left + (r.width() - width) / 2.0f;
    if (align == Align::Right) x = r.right - width;
    // Centre the font's ascent-to-descent box in the rect; whole-pixel baseline and origin
    // keep the glyphs' rendering the same wherever the text sits.
    const FontExtents font = fontExtents();
    const double baseline = std::round(r.top + (r.height() + font.ascent - font.descent) / 2.0);
    showText(shown, {static_cast<int>(std::lround(x)), static_cast<int>(baseline)}, r, c);
}

}  // namespace kf::gui
