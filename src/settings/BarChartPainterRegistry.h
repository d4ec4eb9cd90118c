#pragma once
// The bar styles the user can choose, as the core knows them: a class name (stored in the
// settings) and a display name (shown to the user, the registry's key) per painter class.
// The core draws nothing, so a "painter class reference" here is a pointer to one of the
// static descriptors below; two references name the same class exactly when the pointers
// are equal.
//
// How the GUI attaches the drawing: the painter classes of the GUI keep their own table
// from descriptor to factory, e.g.
//     std::map<const TBarChartPainterClass*, std::function<std::unique_ptr<TQvBarChartPainter>()>>
// filled once at start-up with one entry per descriptor (TDefaultBarChartPainterClass
// included). The settings and the preferences hold descriptors only; whoever needs an
// instance looks the descriptor up in that table. The core never needs to know the
// painters' types.
//
// Threading: GUI thread only, like the painters; BarChartPainterRegistry() itself may be
// called first from any thread.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A painter class as the settings and the registry see it. Only the descriptors defined
// below exist; they are compared by address.
struct TBarChartPainterClass {
    const char* ClassName; // "TSkinSpectrum": stored in the settings file
    const char* Name;      // "Spectrum": shown to the user, the registry's key
};

// Registration order of the program.
extern const TBarChartPainterClass TQuorvelOneBarChartPainterClass; // "Quorvel Classic"
extern const TBarChartPainterClass TSkinCairoHelixClass;            // "Cairo Helix"
extern const TBarChartPainterClass TSkinCrystalClass;               // "Crystal"
extern const TBarChartPainterClass TSkinChromeRedClass;             // "Chrome Red"
extern const TBarChartPainterClass TSkinBlackIceClass;              // "Black Ice"
extern const TBarChartPainterClass TSkinTrueBlueClass;              // "True Blue"
extern const TBarChartPainterClass TSkinBronceAgeClass;             // "Bronze Age"
extern const TBarChartPainterClass TSkinCenterCourtClass;           // "Center Court"
extern const TBarChartPainterClass TSkinSpectrumClass;              // "Spectrum"
// The style of a fresh user and of an unknown class name in the settings: it looks like
// "Cairo Helix" and has its name, but it is not registered, so it is never offered twice
// and a search by class name never finds it.
extern const TBarChartPainterClass TDefaultBarChartPainterClass;

// A broken program invariant, such as registering a display name twice.
class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class TQvBarChartPainterRegistry {
public:
    // An empty registry; BarChartPainterRegistry() is the program's filled one.
    TQvBarChartPainterRegistry() = default;

    // Appends PainterClass. Throws EAssertionFailed "<Name> ist bereits registriert!" when
    // a class of the same display name is registered already (and for a null class), and
    // adds nothing then.
    void Register(const TBarChartPainterClass* PainterClass);

    [[nodiscard]] int Count() const noexcept { return int(Classes.size()); }
    // The class at Index in registration order; std::out_of_range outside 0..Count()-1.
    [[nodiscard]] const TBarChartPainterClass* Items(int Index) const;

    // The first index whose display name equals Name exactly (with case), else -1.
    [[nodiscard]] int IndexOfName(std::string_view Name) const;
    // The class of that index, or null.
    [[nodiscard]] const TBarChartPainterClass* FindByName(std::string_view Name) const;
    // The first class whose class name equals ClassName without regard to ASCII case, or
    // null. Hand-edited settings files may have any case.
    [[nodiscard]] const TBarChartPainterClass* FindByClassName(std::string_view ClassName) const;

    // The display names in registration order, or when Sorted, ordered as the user's locale
    // (LC_COLLATE of the environment) sorts text without regard to case; names that
    // compare equal keep their registration order. Without a usable locale the order is
    // the ASCII one without regard to case.
    [[nodiscard]] std::vector<std::string> GetNames(bool Sorted) const;

private:
    std::vector<const TBarChartPainterClass*> Classes;
};

// The program's registry, created on first use with the nine classes above in
// registration order.
[[nodiscard]] TQvBarChartPainterRegistry& BarChartPainterRegistry();

// Compares A and B as GetNames sorts them: <0, 0 or >0.
[[nodiscard]] int CompareTextLocale(std::string_view A, std::string_view B);

} // namespace qv
