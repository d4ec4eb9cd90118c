#pragma once
// The colours of the treemap's files by type. The types that take the most space get the
// palette's well-separated colours, in order; every other type shares one neutral colour,
// so that the eye finds the few types that matter instead of a rainbow of small ones.
//
// Threading: immutable once made; share it read-only between threads
// (std::shared_ptr<const TFileTypeColours>).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TFileTypeColours {
public:
    // How many types get a colour of their own.
    static constexpr std::size_t PaletteSize = 12;
    // The colour of every type beyond the palette (0xRRGGBB).
    static constexpr std::uint32_t OtherColour = 0xB8B8B0;
    // The colour of a folder's files that are not nodes of the tree (one block per folder):
    // darker than OtherColour, so that files of rare types and unknown files stay apart.
    static constexpr std::uint32_t UnlistedColour = 0x989898;

    TFileTypeColours() = default;
    // TypesBySize: file types (TFileTypeSums::TypeOf), largest first; the first PaletteSize
    // distinct ones are coloured.
    explicit TFileTypeColours(const std::vector<std::string>& TypesBySize);

    // The colour of Type (0xRRGGBB).
    [[nodiscard]] std::uint32_t Colour(std::string_view Type) const noexcept;
    // The coloured types, in palette order.
    [[nodiscard]] const std::vector<std::string>& Types() const noexcept { return Coloured; }
    // The palette's colour at Index (< PaletteSize).
    [[nodiscard]] static std::uint32_t PaletteColour(std::size_t Index) noexcept;

private:
    std::vector<std::string> Coloured;
};

} // namespace qv
