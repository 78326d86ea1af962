// The compass bearing of a point seen from another: 0 up the screen, 90 to the right.
#pragma once

#include <cmath>
#include <cstdint>

#include "model/equates.h"

// Whole degrees 0..359, rounded down, of a point dx, dy away. The panel's dial works it out in
// single precision and the computer player in double: Real is that precision, and the two may
// differ by a degree where the angle comes close to a whole number.
template <typename Real>
uint16_t compassbearing(int dx, int dy) {
    if (dx == 0) return dy <= 0 ? 0 : 180;
    if (dy == 0) return dx > 0 ? 90 : 270;
    Real phi = static_cast<Real>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
    Real d = static_cast<Real>((phi + PI) * 180 / PI);
    double b = d > 90 ? std::floor(static_cast<double>(d) - 90) : std::floor(static_cast<double>(d) + 270);
    return static_cast<uint16_t>(b);
}
