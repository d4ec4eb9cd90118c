#pragma once
// The short texts the user reads: sizes with a unit in two rounding styles, file counts,
// percent shares, and paths shortened to a pixel width. No Qt here: the window hands in its
// font metrics as a width function.
//
// Numbers use the decimal and thousands separators of the user's LC_NUMERIC, read once from
// the environment on first use; the process's global locale is never touched. Every
// function may be called from any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The size rounding style of the "FileSizeRounding" setting. The setting may hold any byte;
// every value other than fsrBankersRounding formats like fsrRoundDown.
enum TFileSizeRounding : std::uint8_t {
    fsrNone = 0,
    fsrBankersRounding = 1,
    fsrRoundDown = 2,
};

// A byte count in, the size text out. Both formatters below fit this type.
using TSizeFormatFunc = std::string (*)(std::int64_t Size);

// The translated name of Style as offered in the preferences; empty for fsrNone and for
// any value outside 0..2.
[[nodiscard]] std::string RoundingStyleName(int Style);

// The first style 0, 1, 2 whose RoundingStyleName equals Name exactly (case-sensitive);
// fsrNone when none does, and also for an empty Name.
[[nodiscard]] TFileSizeRounding RoundingStyleFromName(std::string_view Name);

// Replaces the contents of Strings with the non-empty style names in style order:
// two entries, fsrBankersRounding first.
void GetRoundingStyleNames(std::vector<std::string>& Strings);

// FormatSizeBankers for fsrBankersRounding, FormatSizeRoundDown for every other value.
[[nodiscard]] TSizeFormatFunc SizeFormatterForStyle(int Style) noexcept;

// Size as "1.5 KB": units Byte, KB, MB, GB, TB by powers of 1024; two decimals below 10,
// one below 100, none from 100 on; 1024 TB and more stay in whole TB. Rounds to nearest,
// ties to even, and keeps the unit when a value rounds up to the next decade or to 1024
// (10 235 gives "10 KB", 1 048 575 gives "1024 KB"). A negative Size gives "-" followed by
// the text of its magnitude.
[[nodiscard]] std::string FormatSizeBankers(std::int64_t Size);

// As FormatSizeBankers, but cuts the digits instead of rounding, as file managers do:
// 10 235 gives "9.99 KB", 1 048 575 gives "1023 KB".
[[nodiscard]] std::string FormatSizeRoundDown(std::int64_t Size);

// The text after a drive root's name: FreeSpace formatted by SizeFormatter (by
// FormatSizeRoundDown when it is null), a blank and the translated word "free".
[[nodiscard]] std::string FormatFreeSpace(TSizeFormatFunc SizeFormatter, std::int64_t FreeSpace);

// Ratio (a node's size over the root's) as a percent with at most one decimal, ties to
// even, directly followed by "%": "12.3%", "100%", and "0%" for a share below 0.05 %.
[[nodiscard]] std::string FormatPercent(double Ratio);

// Count as a whole number grouped with the thousands separator: "1,234,567" in an English
// locale, "-1,234" for a negative count.
[[nodiscard]] std::string FormatCount(std::int32_t Count);

// Value with Decimals decimals (0 to 6, ties to even) and its whole part grouped with the
// thousands separator: FormatNumber(1234567.891, 2) is "1,234,567.89" in an English locale.
[[nodiscard]] std::string FormatNumber(double Value, int Decimals);

// The width of a text in the caller's units (pixels of the window's font, for instance).
using TTextWidthFunc = std::function<int(std::string_view Text)>;

// Path made to fit MaxWidth by replacing leading directories with "...": the path
// /home/user/Photos/2004/img.jpg becomes /.../user/Photos/2004/img.jpg, then
// /.../Photos/2004/img.jpg, /.../2004/img.jpg, /.../img.jpg, .../img.jpg and img.jpg,
// stopping at the first that fits. A path that fits and a bare name come back unchanged;
// the name is never cut, so the result may still be wider than MaxWidth.
[[nodiscard]] std::string ShortenPathToWidth(std::string_view Path, const TTextWidthFunc& TextWidth,
                                             int MaxWidth);

// One shortening step on a directory part that ends with "/": "/a/b/" gives "/.../b/",
// "/.../b/" gives "/.../", ".../" and "/" give "". Used by ShortenPathToWidth.
void CutLeadingDirectory(std::string& Dir);

// The number separators the formatters use. Decimal is never empty; an empty Thousands
// means no grouping. Grouping holds the group sizes from the right, one char each, the last
// repeating, as in the C library's locale data ("\3" is groups of three).
struct TNumberSeparators {
    std::string Decimal = ".";
    std::string Thousands;
    std::string Grouping = "\3";
};

// The separators of the locale LocaleName, "" meaning the user's environment (LC_ALL,
// LC_NUMERIC, LANG). A locale that does not exist gives the defaults above.
[[nodiscard]] TNumberSeparators ReadNumberSeparators(const char* LocaleName);

// The separators in use: those of the environment, read on the first call, until
// SetNumberSeparators replaces them.
[[nodiscard]] TNumberSeparators NumberSeparators();

// Uses DecimalSep and ThousandsSep (either may be several bytes, e.g. "\xE2\x80\xAF") with
// groups of three from now on. For tests; an empty DecimalSep stands for ".".
void SetNumberSeparators(std::string DecimalSep, std::string ThousandsSep);

// Uses Separators from now on, with "." for an empty Decimal and groups of three for an
// empty Grouping. For tests, and to restore what NumberSeparators returned.
void SetNumberSeparators(TNumberSeparators Separators);

} // namespace qv
