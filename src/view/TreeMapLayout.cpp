#include "view/TreeMapLayout.h"

#include <algorithm>
#include <numeric>

namespace qv {

namespace {

// The worst aspect ratio of a row of total area Sum whose items lie along a side of length
// Side, given its largest and smallest item.
double Worst(double Sum, double Largest, double Smallest, double Side) noexcept {
    if (Sum <= 0 || Smallest <= 0)
        return 1e300;
    const double side2 = Side * Side;
    const double sum2 = Sum * Sum;
    return std::max(side2 * Largest / sum2, sum2 / (side2 * Smallest));
}

} // namespace

std::vector<TMapRect> SquarifyLayout(const std::vector<std::int64_t>& Sizes,
                                     const TMapRect& Bounds) {
    std::vector<TMapRect> rects(Sizes.size(), TMapRect{Bounds.X, Bounds.Y, 0, 0});
    std::vector<std::size_t> order;
    order.reserve(Sizes.size());
    double total = 0;
    for (std::size_t i = 0; i < Sizes.size(); ++i)
        if (Sizes[i] > 0) {
            order.push_back(i);
            total += double(Sizes[i]);
        }
    if (order.empty() || Bounds.W <= 0 || Bounds.H <= 0)
        return rects;
    // Largest first, equal sizes in their given order: the same input, the same picture.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t A, std::size_t B) { return Sizes[A] > Sizes[B]; });
    const double scale = Bounds.Area() / total;

    TMapRect rest = Bounds;
    std::size_t next = 0;
    while (next < order.size()) {
        const bool wide = rest.W >= rest.H;
        const double side = wide ? rest.H : rest.W;
        // Grow the row while that makes its worst rectangle no worse.
        std::size_t end = next;
        double sum = 0;
        const double largest = double(Sizes[order[next]]) * scale;
        double smallest = largest;
        while (end < order.size()) {
            const double area = double(Sizes[order[end]]) * scale;
            if (end > next &&
                Worst(sum + area, largest, area, side) > Worst(sum, largest, smallest, side))
                break;
            sum += area;
            smallest = area;
            ++end;
        }
        const bool last = end == order.size();
        // The row's thickness; the last row takes what is left, so that rounding never
        // leaves a gap or spills over.
        const double thick = last ? (wide ? rest.W : rest.H) : sum / side;
        double offset = 0;
        for (std::size_t k = next; k < end; ++k) {
            const double area = double(Sizes[order[k]]) * scale;
            const double length = k + 1 == end ? side - offset : area / thick;
            TMapRect& r = rects[order[k]];
            if (wide)
                r = {rest.X, rest.Y + offset, thick, length};
            else
                r = {rest.X + offset, rest.Y, length, thick};
            offset += length;
        }
        if (wide) {
            rest.X += thick;
            rest.W -= thick;
        } else {
            rest.Y += thick;
            rest.H -= thick;
        }
        next = end;
    }
    // Empty items sit at the far corner with no area.
    for (std::size_t i = 0; i < Sizes.size(); ++i)
        if (Sizes[i] <= 0)
            rects[i] = {Bounds.X + Bounds.W, Bounds.Y + Bounds.H, 0, 0};
    return rects;
}

} // namespace qv
