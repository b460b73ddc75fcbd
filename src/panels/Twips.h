#pragma once

#include <QRect>

#include <cmath>

namespace regbench::panels {

inline constexpr int TwipsPerPixel = 15;

inline int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / TwipsPerPixel));
}

// Both edges are rounded, not left plus a rounded width, so that neighbours never gap or overlap.
inline QRect twipsRect(int left, int top, int width, int height) {
    const int x0 = twipsToPixels(left);
    const int y0 = twipsToPixels(top);
    return {x0, y0, twipsToPixels(left + width) - x0, twipsToPixels(top + height) - y0};
}

} // namespace regbench::panels
