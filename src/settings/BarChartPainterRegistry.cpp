#include "settings/BarChartPainterRegistry.h"

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

namespace qv {

const TBarChartPainterClass TQuorvelOneBarChartPainterClass{"TQuorvelOneBarChartPainter",
                                                            "Quorvel Classic"};
const TBarChartPainterClass TSkinCairoHelixClass{"TSkinCairoHelix", "Cairo Helix"};
const TBarChartPainterClass TSkinCrystalClass{"TSkinCrystal", "Crystal"};
const TBarChartPainterClass TSkinChromeRedClass{"TSkinChromeRed", "Chrome Red"};
const TBarChartPainterClass TSkinBlackIceClass{"TSkinBlackIce", "Black Ice"};
const TBarChartPainterClass TSkinTrueBlueClass{"TSkinTrueBlue", "True Blue"};
const TBarChartPainterClass TSkinBronceAgeClass{"TSkinBronceAge", "Bronze Age"};
const TBarChartPainterClass TSkinCenterCourtClass{"TSkinCenterCourt", "Center Court"};
const TBarChartPainterClass TSkinSpectrumClass{"TSkinSpectrum", "Spectrum"};
const TBarChartPainterClass TDefaultBarChartPainterClass{"TDefaultBarChartPainter", "Cairo Helix"};

namespace {

bool SameAsciiText(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(a) == lower(b);
           });
}

// Compares texts the way the user's locale sorts them, without regard to case. The locale
// comes from the environment (LC_ALL, LC_COLLATE, LC_CTYPE, LANG) and is used through its
// own handle, so the process's global locale stays as it is.
class TLocaleTextComparer {
public:
    TLocaleTextComparer() {
        Locale = ::newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", locale_t(nullptr));
        if (Locale == locale_t(nullptr)) // a locale the system does not have
            Locale = ::newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C", locale_t(nullptr));
    }
    ~TLocaleTextComparer() {
        if (Locale != locale_t(nullptr))
            ::freelocale(Locale);
    }
    TLocaleTextComparer(const TLocaleTextComparer&) = delete;
    TLocaleTextComparer& operator=(const TLocaleTextComparer&) = delete;

    int Compare(std::string_view A, std::string_view B) const {
        std::wstring wideA;
        std::wstring wideB;
        if (Locale != locale_t(nullptr) && Widen(A, wideA) && Widen(B, wideB))
            return ::wcscoll_l(wideA.c_str(), wideB.c_str(), Locale);
        // Bytes the locale's character set cannot decode: fold ASCII letters and let the
        // byte collation decide.
        const std::string lowerA = AsciiLower(A);
        const std::string lowerB = AsciiLower(B);
        if (Locale == locale_t(nullptr))
            return lowerA.compare(lowerB);
        return ::strcoll_l(lowerA.c_str(), lowerB.c_str(), Locale);
    }

private:
    locale_t Locale = locale_t(nullptr);

    static std::string AsciiLower(std::string_view S) {
        std::string lower(S);
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z')
                c = char(c + 32);
        return lower;
    }

    // S decoded with the locale's character set and folded to lower case; false when S is
    // not valid in that character set.
    bool Widen(std::string_view S, std::wstring& Wide) const {
        const locale_t previous = ::uselocale(Locale);
        std::mbstate_t state{};
        bool ok = true;
        while (!S.empty()) {
            wchar_t c = 0;
            const std::size_t used = std::mbrtowc(&c, S.data(), S.size(), &state);
            if (used == std::size_t(-1) || used == std::size_t(-2)) {
                ok = false;
                break;
            }
            Wide += wchar_t(::towlower_l(wint_t(c), Locale));
            S.remove_prefix(used == 0 ? 1 : used);
        }
        ::uselocale(previous);
        return ok;
    }
};

} // namespace

void TQvBarChartPainterRegistry::Register(const TBarChartPainterClass* PainterClass) {
    if (!PainterClass)
        throw EAssertionFailed("A painter class must not be null");
    if (IndexOfName(PainterClass->Name) >= 0)
        throw EAssertionFailed(std::string(PainterClass->Name) + " ist bereits registriert!");
    Classes.push_back(PainterClass);
}

const TBarChartPainterClass* TQvBarChartPainterRegistry::Items(int Index) const {
    if (Index < 0)
        throw std::out_of_range("Painter class index " + std::to_string(Index));
    return Classes.at(std::size_t(Index));
}

int TQvBarChartPainterRegistry::IndexOfName(std::string_view Name) const {
    for (std::size_t i = 0; i < Classes.size(); ++i)
        if (Name == Classes[i]->Name)
            return int(i);
    return -1;
}

const TBarChartPainterClass* TQvBarChartPainterRegistry::FindByName(std::string_view Name) const {
    const int index = IndexOfName(Name);
    return index < 0 ? nullptr : Classes[std::size_t(index)];
}

const TBarChartPainterClass*
TQvBarChartPainterRegistry::FindByClassName(std::string_view ClassName) const {
    for (const TBarChartPainterClass* painterClass : Classes)
        if (SameAsciiText(ClassName, painterClass->ClassName))
            return painterClass;
    return nullptr;
}

std::vector<std::string> TQvBarChartPainterRegistry::GetNames(bool Sorted) const {
    std::vector<std::string> names;
    names.reserve(Classes.size());
    for (const TBarChartPainterClass* painterClass : Classes)
        names.emplace_back(painterClass->Name);
    if (Sorted) {
        const TLocaleTextComparer comparer;
        std::stable_sort(
            names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return comparer.Compare(a, b) < 0; });
    }
    return names;
}

TQvBarChartPainterRegistry& BarChartPainterRegistry() {
    static TQvBarChartPainterRegistry registry = [] {
        TQvBarChartPainterRegistry filled;
        for (const TBarChartPainterClass* painterClass :
             {&TQuorvelOneBarChartPainterClass, &TSkinCairoHelixClass, &TSkinCrystalClass,
              &TSkinChromeRedClass, &TSkinBlackIceClass, &TSkinTrueBlueClass, &TSkinBronceAgeClass,
              &TSkinCenterCourtClass, &TSkinSpectrumClass})
            filled.Register(painterClass);
        return filled;
    }();
    return registry;
}

int CompareTextLocale(std::string_view A, std::string_view B) {
    return TLocaleTextComparer().Compare(A, B);
}

} // namespace qv
