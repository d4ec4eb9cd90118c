#pragma once
// The name of a node: its bytes exactly as the file system returned them, in eight bytes of
// the node. A tree holds one name per directory, so the common short names cost nothing
// more: names of up to six bytes are stored inside those eight bytes, longer ones in a heap
// block of their own, and names that many nodes share ("Grouped Files") point to one
// interned copy. A file name can hold any byte but NUL and "/", a root's path no NUL, so
// every form is NUL-terminated.

#include <bit>
#include <cstdint>
#include <string_view>

namespace qv {

class TNodeName {
public:
    TNodeName() = default;
    explicit TNodeName(std::string_view Text) { Assign(Text); }
    TNodeName(const TNodeName&) = delete;
    TNodeName& operator=(const TNodeName&) = delete;
    ~TNodeName() { Release(); }

    // Replaces the text. A NUL byte in Text ends the stored name there.
    void Assign(std::string_view Text);
    // Replaces the text with a shared copy that lives until the program ends; for the few
    // names that thousands of nodes carry.
    void AssignShared(std::string_view Text);

    [[nodiscard]] const char* CStr() const noexcept {
        if (Raw & InlineTag)
            return reinterpret_cast<const char*>(&Raw) + 1;
        return Raw ? reinterpret_cast<const char*>(Raw & ~SharedTag) : "";
    }
    [[nodiscard]] std::string_view View() const noexcept { return CStr(); }
    [[nodiscard]] bool Empty() const noexcept { return Raw == 0; }

private:
    // Heap blocks are at least 4-aligned, so the two low bits of a pointer are free.
    static constexpr std::uintptr_t InlineTag = 1; // byte 0 is the tag, bytes 1..7 the text
    static constexpr std::uintptr_t SharedTag = 2; // pointer to an interned copy
    static constexpr std::size_t InlineMax = sizeof(std::uintptr_t) - 2;
    static_assert(std::endian::native == std::endian::little,
                  "the inline tag must be in the lowest byte");

    void Release() noexcept;

    std::uintptr_t Raw = 0;
};

static_assert(sizeof(TNodeName) == sizeof(void*));

} // namespace qv
