#include "view/FileTypeColours.h"

#include <algorithm>
#include <array>

namespace qv {

namespace {

// Hues spread around the circle, alternating light and dark neighbours, all of a medium
// lightness: the cushion shading darkens and brightens them, and none may drown in it.
constexpr std::array<std::uint32_t, TFileTypeColours::PaletteSize> Palette = {
    0x3A78D8, // blue
    0xF08C28, // orange
    0x3FA34D, // green
    0xD93A3A, // red
    0x9A5FD0, // violet
    0xF2D43C, // yellow
    0x2EC4C4, // cyan
    0xF07CC0, // pink
    0x8F5A2E, // brown
    0xA8D84A, // lime
    0x3A3F9E, // indigo
    0xF5B48A, // peach
};

} // namespace

TFileTypeColours::TFileTypeColours(const std::vector<std::string>& TypesBySize) {
    for (const std::string& type : TypesBySize) {
        if (Coloured.size() == PaletteSize)
            break;
        if (std::find(Coloured.begin(), Coloured.end(), type) == Coloured.end())
            Coloured.push_back(type);
    }
}

std::uint32_t TFileTypeColours::Colour(std::string_view Type) const noexcept {
    // Twelve short strings: a linear search beats hashing the key.
    for (std::size_t i = 0; i < Coloured.size(); ++i)
        if (Coloured[i] == Type)
            return Palette[i];
    return OtherColour;
}

std::uint32_t TFileTypeColours::PaletteColour(std::size_t Index) noexcept {
    return Index < Palette.size() ? Palette[Index] : OtherColour;
}

} // namespace qv
