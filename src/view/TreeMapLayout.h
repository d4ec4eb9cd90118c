#pragma once
// The squarified treemap layout: rectangles whose areas are proportional to sizes, laid in
// rows along the shorter side of what is left, each row kept as close to squares as the
// sizes allow. No Qt here, so that the layout can run on any thread.

#include <cstdint>
#include <vector>

namespace qv {

struct TMapRect {
    double X = 0;
    double Y = 0;
    double W = 0;
    double H = 0;
    [[nodiscard]] double Area() const noexcept { return W * H; }
};

// Places Sizes (any order; zero or negative sizes get an empty rectangle at the end of the
// last row) in Bounds and returns one rectangle per size, in the order of Sizes. The
// rectangles tile Bounds exactly when the sum of the sizes is positive.
[[nodiscard]] std::vector<TMapRect> SquarifyLayout(const std::vector<std::int64_t>& Sizes,
                                                   const TMapRect& Bounds);

} // namespace qv
