#include "view/SizeFormat.h"

#include "support/Translate.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qv {

namespace {

// The unit texts are the same in every language, so they are not translated.
constexpr const char* UnitNames[] = {"Byte", "KB", "MB", "GB", "TB"};

// Catalog keys of the two styles offered in the preferences.
constexpr const char* BankersRoundingName = TrNoop("银行四舍五入");
constexpr const char* RoundDownName = TrNoop("向下舍入（类似资源管理器）");

// The separators are read from the environment on first use and then only replaced
// whole, so a reader copies the pointer under the lock and formats without it.
class TSeparatorStore {
public:
    TSeparatorStore()
        : Current(std::make_shared<const TNumberSeparators>(ReadNumberSeparators(""))) {}

    std::shared_ptr<const TNumberSeparators> Get() {
        std::lock_guard Guard(Lock);
        return Current;
    }

    void Set(TNumberSeparators Separators) {
        auto Replacement = std::make_shared<const TNumberSeparators>(std::move(Separators));
        std::lock_guard Guard(Lock);
        Current = std::move(Replacement);
    }

private:
    std::mutex Lock;
    std::shared_ptr<const TNumberSeparators> Current;
};

TSeparatorStore& SeparatorStore() {
    static TSeparatorStore Store;
    return Store;
}

// The C library's printf follows the global LC_NUMERIC, which Qt sets from the
// environment; to_chars never looks at a locale, so the point is always "." here and is
// swapped for the user's separator afterwards.
std::string GeneralForm(double Value) {
    char Buffer[64];
    // Adding +0.0 turns a -0 (a tiny negative value rounded to zero) into 0.
    const auto Converted =
        std::to_chars(Buffer, Buffer + sizeof Buffer, Value + 0.0, std::chars_format::general, 15);
    return {Buffer, Converted.ptr};
}

std::string WholeDigits(std::int64_t Value) {
    char Buffer[24];
    const auto Converted = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
    return {Buffer, Converted.ptr};
}

std::string WithDecimalSeparator(std::string Text, const TNumberSeparators& Separators) {
    const auto Point = Text.find('.');
    if (Point != std::string::npos) {
        Text.replace(Point, 1, Separators.Decimal);
    }
    return Text;
}

// Rounds to a multiple of Step (0.01, 0.1 or 1) the way the program rounds everywhere:
// to nearest, ties to even. Dividing by the step (rather than multiplying by its inverse)
// decides which binary values count as ties; nearbyint rounds ties to even because the
// program never leaves the default rounding mode.
double RoundToStep(double Value, double Step) {
    return std::nearbyint(Value / Step) * Step;
}

// Cuts Text after Digits digits behind the point; a whole value has no point and stays.
std::string CutDecimals(std::string Text, std::size_t Digits) {
    const auto Point = Text.find('.');
    if (Point != std::string::npos && Text.size() > Point + 1 + Digits) {
        Text.resize(Point + 1 + Digits);
    }
    return Text;
}

// The number part of a size below 1024 of its unit, with "." as the point.
std::string SizeNumber(double Value, bool Bankers) {
    if (Value < 10) {
        return Bankers ? GeneralForm(RoundToStep(Value, 0.01)) : CutDecimals(GeneralForm(Value), 2);
    }
    if (Value < 100) {
        return Bankers ? GeneralForm(RoundToStep(Value, 0.1)) : CutDecimals(GeneralForm(Value), 1);
    }
    return Bankers ? GeneralForm(std::nearbyint(Value))
                   : WholeDigits(static_cast<std::int64_t>(std::trunc(Value)));
}

// A negative size is a fault elsewhere, but it should still read as what it is: the sign
// goes in front of the magnitude's text, so -1536 is "-1.5 KB" in both styles. Working on
// the magnitude as a double also covers INT64_MIN, whose magnitude has no int64.
std::string FormatSize(std::int64_t Size, bool Bankers) {
    double Value = static_cast<double>(Size);
    std::string Text;
    if (Value < 0) {
        Text = "-";
        Value = -Value;
    }
    const auto Separators = SeparatorStore().Get();
    for (const char* Unit : UnitNames) {
        if (Value < 1024) {
            Text += WithDecimalSeparator(SizeNumber(Value, Bankers), *Separators);
            Text += ' ';
            Text += Unit;
            return Text;
        }
        Value /= 1024;
    }
    // 1024 TB and more: there is no larger unit, so the TB count is written whole.
    const double Terabytes = Value * 1024;
    Text += Bankers ? GeneralForm(std::nearbyint(Terabytes))
                    : WholeDigits(static_cast<std::int64_t>(std::trunc(Terabytes)));
    Text += " TB";
    return Text;
}

// Inserts the thousands separator into a run of digits, taking the group sizes from the
// right; the last size repeats, and a size of zero, below zero or CHAR_MAX ends grouping.
std::string GroupDigits(std::string_view Digits, const TNumberSeparators& Separators) {
    if (Separators.Thousands.empty()) {
        return std::string(Digits);
    }
    std::vector<std::string_view> Groups;
    std::size_t Remaining = Digits.size();
    std::size_t GroupIndex = 0;
    int GroupSize = 3;
    while (true) {
        if (GroupIndex < Separators.Grouping.size()) {
            const int Next = static_cast<signed char>(Separators.Grouping[GroupIndex++]);
            GroupSize = Next <= 0 || Next == CHAR_MAX ? -1 : Next;
        }
        if (GroupSize < 0 || Remaining <= static_cast<std::size_t>(GroupSize)) {
            Groups.push_back(Digits.substr(0, Remaining));
            break;
        }
        Remaining -= static_cast<std::size_t>(GroupSize);
        Groups.push_back(Digits.substr(Remaining, static_cast<std::size_t>(GroupSize)));
    }
    std::string Text;
    for (auto Group = Groups.rbegin(); Group != Groups.rend(); ++Group) {
        if (!Text.empty()) {
            Text += Separators.Thousands;
        }
        Text += *Group;
    }
    return Text;
}

} // namespace

std::string RoundingStyleName(int Style) {
    switch (Style) {
    case fsrBankersRounding:
        return Tr(BankersRoundingName);
    case fsrRoundDown:
        return Tr(RoundDownName);
    default:
        return {};
    }
}

TFileSizeRounding RoundingStyleFromName(std::string_view Name) {
    for (const auto Style : {fsrNone, fsrBankersRounding, fsrRoundDown}) {
        if (RoundingStyleName(Style) == Name) {
            return Style;
        }
    }
    return fsrNone;
}

void GetRoundingStyleNames(std::vector<std::string>& Strings) {
    Strings.clear();
    for (const auto Style : {fsrNone, fsrBankersRounding, fsrRoundDown}) {
        auto Name = RoundingStyleName(Style);
        if (!Name.empty()) {
            Strings.push_back(std::move(Name));
        }
    }
}

TSizeFormatFunc SizeFormatterForStyle(int Style) noexcept {
    return Style == fsrBankersRounding ? &FormatSizeBankers : &FormatSizeRoundDown;
}

std::string FormatSizeBankers(std::int64_t Size) {
    return FormatSize(Size, true);
}

std::string FormatSizeRoundDown(std::int64_t Size) {
    return FormatSize(Size, false);
}

std::string FormatFreeSpace(TSizeFormatFunc SizeFormatter, std::int64_t FreeSpace) {
    const TSizeFormatFunc Formatter = SizeFormatter ? SizeFormatter : &FormatSizeRoundDown;
    return Formatter(FreeSpace) + " " + Tr("free");
}

std::string FormatPercent(double Ratio) {
    const auto Separators = SeparatorStore().Get();
    return WithDecimalSeparator(GeneralForm(RoundToStep(Ratio * 100, 0.1)), *Separators) + "%";
}

std::string FormatCount(std::int32_t Count) {
    const auto Separators = SeparatorStore().Get();
    // The magnitude of INT32_MIN only fits the wider type.
    const std::int64_t Magnitude = Count < 0 ? -static_cast<std::int64_t>(Count) : Count;
    const std::string Digits = GroupDigits(WholeDigits(Magnitude), *Separators);
    return Count < 0 ? "-" + Digits : Digits;
}

std::string FormatNumber(double Value, int Decimals) {
    Decimals = std::clamp(Decimals, 0, 6);
    const auto Separators = SeparatorStore().Get();
    double Scaled = std::nearbyint(std::fabs(Value) * std::pow(10.0, Decimals));
    if (!std::isfinite(Scaled) || Scaled >= 9.2e18) {
        return GeneralForm(Value);
    }
    std::string Digits = WholeDigits(static_cast<std::int64_t>(Scaled));
    if (Digits.size() <= static_cast<std::size_t>(Decimals)) {
        Digits.insert(0, static_cast<std::size_t>(Decimals) + 1 - Digits.size(), '0');
    }
    const std::size_t Whole = Digits.size() - static_cast<std::size_t>(Decimals);
    std::string Text = GroupDigits(std::string_view(Digits).substr(0, Whole), *Separators);
    if (Decimals > 0) {
        Text += Separators->Decimal;
        Text += Digits.substr(Whole);
    }
    return Value < 0 && Scaled != 0 ? "-" + Text : Text;
}

// Linux paths have no drive part. The leading "/" of the directory part takes the place a
// drive would have: it stays in front while directories are cut, and only when "/.../" is
// all that is left does it go, so "/.../img.jpg" gives ".../img.jpg" and then "img.jpg".
std::string ShortenPathToWidth(std::string_view Path, const TTextWidthFunc& TextWidth,
                               int MaxWidth) {
    std::string Result(Path);
    if (!TextWidth) {
        return Result;
    }
    const auto LastSlash = Path.rfind('/');
    if (LastSlash == std::string_view::npos) {
        return Result;
    }
    std::string Dir(Path.substr(0, LastSlash + 1));
    const std::string_view Name = Path.substr(LastSlash + 1);
    while (!Dir.empty() && TextWidth(Result) > MaxWidth) {
        if (Dir == "/.../") {
            Dir = ".../";
        } else {
            CutLeadingDirectory(Dir);
        }
        Result = Dir;
        Result += Name;
    }
    return Result;
}

void CutLeadingDirectory(std::string& Dir) {
    if (Dir == "/") {
        Dir.clear();
        return;
    }
    const bool Rooted = Dir.starts_with('/');
    if (Rooted) {
        Dir.erase(0, 1);
    }
    // Only the ellipsis of an earlier step is dropped here, not any name that starts with
    // a dot: hidden directories such as ".config" are common on Linux and must be cut one
    // at a time like the others.
    if (Dir.starts_with(".../")) {
        Dir.erase(0, 4);
    }
    const auto Slash = Dir.find('/');
    if (Slash == std::string::npos) {
        Dir.clear();
    } else {
        Dir.erase(0, Slash + 1);
        Dir.insert(0, ".../");
    }
    if (Rooted) {
        Dir.insert(0, "/");
    }
}

TNumberSeparators ReadNumberSeparators(const char* LocaleName) {
    TNumberSeparators Separators;
    // A locale object of our own, so the global locale, which other code relies on for
    // number parsing, stays as it is.
    const locale_t Locale = newlocale(LC_NUMERIC_MASK, LocaleName ? LocaleName : "", nullptr);
    if (Locale == nullptr) {
        return Separators;
    }
    const char* Decimal = nl_langinfo_l(RADIXCHAR, Locale);
    const char* Thousands = nl_langinfo_l(THOUSEP, Locale);
    const char* Grouping = nl_langinfo_l(GROUPING, Locale);
    if (Decimal != nullptr && *Decimal != '\0') {
        Separators.Decimal = Decimal;
    }
    if (Thousands != nullptr) {
        Separators.Thousands = Thousands;
    }
    if (Grouping != nullptr && *Grouping != '\0') {
        Separators.Grouping = Grouping;
    }
    freelocale(Locale);
    return Separators;
}

TNumberSeparators NumberSeparators() {
    return *SeparatorStore().Get();
}

void SetNumberSeparators(std::string DecimalSep, std::string ThousandsSep) {
    SetNumberSeparators(TNumberSeparators{std::move(DecimalSep), std::move(ThousandsSep), "\3"});
}

void SetNumberSeparators(TNumberSeparators Separators) {
    if (Separators.Decimal.empty()) {
        Separators.Decimal = ".";
    }
    if (Separators.Grouping.empty()) {
        Separators.Grouping = "\3";
    }
    SeparatorStore().Set(std::move(Separators));
}

} // namespace qv
