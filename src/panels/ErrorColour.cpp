// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/ErrorColour.h"

#include <algorithm>
#include <cmath>

namespace pellim {

namespace {

// Relative luminance and contrast ratio as the web's accessibility guidelines
// define them.
double luminance(const QColor &colour) {
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor &a, const QColor &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor errorTextColour(const QPalette &palette, QPalette::ColorRole background) {
    constexpr int kHue = 355;
    constexpr int kSaturation = 190;
    constexpr double kReadable = 4.5;
    const QColor behind = palette.color(QPalette::Active, background);
    const bool lightBehind = luminance(behind) > 0.18;
    // From the red of a light theme (#c01c28) or a dark one, darker or lighter
    // step by step until it reads.
    const int step = lightBehind ? -6 : 6;
    int lightness = lightBehind ? 110 : 150;
    QColor red = QColor::fromHsl(kHue, kSaturation, lightness);
    while (contrast(red, behind) < kReadable && lightness + step >= 0 && lightness + step <= 255) {
        lightness += step;
        red = QColor::fromHsl(kHue, kSaturation, lightness);
    }
    return red;
}

} // namespace pellim
