// The set and rectangle texts of the settings: any text parses without a crash, and what a
// parsed value is written as parses back to that value.

#include "FuzzSupport.h"
#include "support/QvUtils.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using qv::fuzz::Broken;

constexpr const char* Names[] = {"poOne",  "poTwo",  "poThree", "ssShift",  "ssAlt",
                                 "ssCtrl", "ssLeft", "ssRight", "ssMiddle", "ssDouble"};

void CheckSet(std::string_view Text) {
    for (const int size : {1, 2, 4}) {
        const qv::TSetType type{Names, size};
        const std::uint32_t value = qv::StringToSet(type, Text);
        for (const bool brackets : {true, false}) {
            const std::string written = qv::SetToString(type, value, brackets);
            if (qv::StringToSet(type, written) != value)
                Broken("a set does not read back from its text");
            if (qv::SetToString(type, qv::StringToSet(type, written), brackets) != written)
                Broken("a set's text is not the one it reads back as");
        }
    }
}

void CheckRect(std::string_view Text) {
    // Two different defaults tell a text that parsed from one that did not.
    constexpr qv::TRect a{1, 2, 3, 4}, b{-5, -6, -7, -8};
    const qv::TRect first = qv::StrToRect(Text, a);
    const qv::TRect second = qv::StrToRect(Text, b);
    if (first != second && (first != a || second != b))
        Broken("a rectangle text parses to something other than its default");
    if (qv::StrToRect(qv::RectToStr(first), b) != first)
        Broken("a rectangle does not read back from its text");
}

void CheckCentered(const std::uint8_t* Data, std::size_t Size) {
    int v[4] = {};
    std::memcpy(v, Data, std::min(Size, sizeof v));
    const qv::TRect r = qv::CenteredRect(v[0], v[1], v[2], v[3]);
    if (std::int64_t(r.Right) - r.Left != v[0] || std::int64_t(r.Bottom) - r.Top != v[1] ||
        r.Left != (std::int64_t(v[2]) - v[0]) / 2 || r.Top != (std::int64_t(v[3]) - v[1]) / 2)
        Broken("a centred rectangle has not the size asked for or is not centred");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string_view text = qv::fuzz::AsText(Data, Size);
    CheckSet(text);
    CheckRect(text);
    CheckCentered(Data, Size);
    return 0;
}
