#pragma once

namespace orvik {

// Positions and sizes are in twips; one logical pixel is 15 twips.
inline constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

} // namespace orvik
