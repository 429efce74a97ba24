// Window-pixel geometry. A Rect covers the pixels left <= x < right, top <= y < bottom: the
// right and bottom edges are exclusive, so a 503 x 404 window is {0, 0, 503, 404} and two
// rects that share an edge do not overlap.
#pragma once

#include <algorithm>

namespace kf::gui {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

// A point with sub-pixel precision, for polylines (waveforms, curves).
struct PointF {
    float x = 0.0f;
    float y = 0.0f;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static constexpr Rect fromSize(int x, int y, int width, int height) {
        return {x, y, x + width, y + height};
    }

    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr bool empty() const { return right <= left || bottom <= top; }
    constexpr bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    constexpr bool contains(const Rect& r) const {
        return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
    }
    constexpr bool intersects(const Rect& r) const {
        return !empty() && !r.empty() && r.left < right && left < r.right && r.top < bottom && top < r.bottom;
    }
    // The common part; empty (all zero) when they do not overlap.
    constexpr Rect intersection(const Rect& r) const {
        if (!intersects(r)) return {};
        return {std::max(left, r.left), std::max(top, r.top), std::min(right, r.right),
                std::min(bottom, r.bottom)};
    }
    // The smallest rect covering both; an empty operand adds nothing.
    constexpr Rect united(const Rect& r) const {
        if (r.empty()) return *this;
        if (empty()) return r;
        return {std::min(left, r.left), std::min(top, r.top), std::max(right, r.right),
                std::max(bottom, r.bottom)};
    }
    constexpr Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    constexpr Point topLeft() const { return {left, top}; }
    bool operator==(const Rect&) const = default;
};

}  // namespace kf::gui
