// The squarified layout on generated sizes: areas in proportion, no overlap, nothing
// outside the bounds, the bounds tiled, and rectangles close to squares.

#include "view/TreeMapLayout.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace qv {
namespace {

double Overlap(const TMapRect& A, const TMapRect& B) {
    const double w = std::min(A.X + A.W, B.X + B.W) - std::max(A.X, B.X);
    const double h = std::min(A.Y + A.H, B.Y + B.H) - std::max(A.Y, B.Y);
    return w > 0 && h > 0 ? w * h : 0;
}

void CheckLayout(const std::vector<std::int64_t>& Sizes, const TMapRect& Bounds, double MaxAspect) {
    const std::vector<TMapRect> rects = SquarifyLayout(Sizes, Bounds);
    ASSERT_EQ(rects.size(), Sizes.size());
    double total = 0;
    for (std::int64_t s : Sizes)
        total += double(std::max<std::int64_t>(s, 0));
    double covered = 0;
    constexpr double Eps = 1e-6;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const TMapRect& r = rects[i];
        EXPECT_GE(r.X, Bounds.X - Eps) << i;
        EXPECT_GE(r.Y, Bounds.Y - Eps) << i;
        EXPECT_LE(r.X + r.W, Bounds.X + Bounds.W + Eps) << i;
        EXPECT_LE(r.Y + r.H, Bounds.Y + Bounds.H + Eps) << i;
        const double want = Sizes[i] > 0 ? double(Sizes[i]) / total * Bounds.Area() : 0;
        EXPECT_NEAR(r.Area(), want, 1.0) << "item " << i << " of size " << Sizes[i];
        if (want >= 1) {
            const double aspect = std::max(r.W / r.H, r.H / r.W);
            EXPECT_LE(aspect, MaxAspect) << "item " << i << ": " << r.W << " x " << r.H;
        }
        covered += r.Area();
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_LT(Overlap(r, rects[j]), Eps) << i << " and " << j;
    }
    if (total > 0) {
        EXPECT_NEAR(covered, Bounds.Area(), 1e-3);
    }
}

TEST(TreeMapLayoutTest, GeneratedSizesTileTheBoundsInProportion) {
    std::mt19937 random(23);
    for (int round = 0; round < 40; ++round) {
        const std::size_t n = 1 + random() % 150;
        std::vector<std::int64_t> sizes(n);
        // Sizes within a factor of 20 of each other: the squarified rows stay near square.
        for (auto& s : sizes)
            s = 50 + std::int64_t(random() % 1000);
        const TMapRect bounds{double(random() % 50), double(random() % 50),
                              200.0 + double(random() % 1200), 150.0 + double(random() % 800)};
        CheckLayout(sizes, bounds, 6.0);
    }
}

TEST(TreeMapLayoutTest, SkewedEmptyAndDegenerateInputs) {
    // A few giants and many dwarfs, ties, zeros and a negative size: still in proportion,
    // still tiled; no aspect bound can hold for the dwarfs beside a giant.
    std::vector<std::int64_t> sizes{1'000'000'000, 7, 7, 7, 0, 500'000'000, 3, -5, 1, 1, 1};
    CheckLayout(sizes, {0, 0, 1000, 700}, 1e18);
    const auto rects = SquarifyLayout(sizes, {0, 0, 1000, 700});
    EXPECT_EQ(rects[4].Area(), 0);
    EXPECT_EQ(rects[7].Area(), 0);
    // Equal sizes in a square: equal rectangles.
    const auto four = SquarifyLayout({5, 5, 5, 5}, {0, 0, 100, 100});
    for (const TMapRect& r : four) {
        EXPECT_NEAR(r.W, 50, 1e-9);
        EXPECT_NEAR(r.H, 50, 1e-9);
    }
    // Nothing to show, or nowhere to show it.
    for (const TMapRect& r : SquarifyLayout({0, 0}, {0, 0, 100, 100}))
        EXPECT_EQ(r.Area(), 0);
    for (const TMapRect& r : SquarifyLayout({3, 4}, {0, 0, 0, 100}))
        EXPECT_EQ(r.Area(), 0);
    // One item fills the bounds.
    const auto one = SquarifyLayout({42}, {10, 20, 300, 40});
    EXPECT_DOUBLE_EQ(one[0].X, 10);
    EXPECT_DOUBLE_EQ(one[0].W, 300);
    EXPECT_DOUBLE_EQ(one[0].H, 40);
}

} // namespace
} // namespace qv
