#pragma once
// The one translation function of the program and the switch of its language. Every
// user-visible text passes through Tr with its catalog key, at the point of use.
//
// Catalogs are GNU .mo files of the domain "default", looked up as
// <folder>/<code>/LC_MESSAGES/default.mo in each catalog folder: first "locale" beside the
// executable (a build folder, or a program unpacked anywhere), then ../share/quorvel/locale
// relative to the executable's folder (an installed bin/, whatever the prefix), then the
// share/quorvel/locale of the prefix the program was built for. They are read by the
// program itself, so a language works whether or not the system has a locale for it.
//
// Threading: Tr may be called from any thread at any time, also while another thread
// switches the language; it sees either the old or the new catalog, never half of one.

#include <string>
#include <vector>

namespace qv {

// Returns the translation of the catalog key MsgId in the current language, or MsgId
// itself when the catalog lacks it or no catalog is in use. The key is the text exactly as
// the program holds it.
std::string Tr(const char* MsgId);

// Marks a key that is stored now and passed through Tr later (a table of names, a constant
// compared with user input), so that the catalog tools find it: xgettext only sees string
// literals written directly inside Tr(...) or TrNoop(...).
constexpr const char* TrNoop(const char* MsgId) {
    return MsgId;
}

// Switches the language to Code ("de", "zh_CN", "de_AT", ...; an encoding or modifier
// suffix is ignored, "C" and "POSIX" mean "en", empty means DefaultLanguage()). For de_AT
// the catalog de_AT is tried in every folder, then de; a bare "zh" takes zh_CN. Returns
// whether a catalog was found; without one, Tr uses the English catalog, and the keys only
// when that is missing too. A damaged catalog counts as missing (and is logged); nothing
// is thrown.
bool UseLanguage(const std::string& Code);

// The language last chosen with UseLanguage (normalised as described there), whether a
// catalog was found for it or not; empty while none was chosen, when Tr returns the keys.
std::string CurrentLanguage();

// The user's languages from the environment, in priority order: each non-empty entry of
// the colon-separated LANGUAGE, then the first of LC_ALL, LC_MESSAGES and LANG that is set.
// Each entry is without encoding and modifier ("de_DE.UTF-8@euro" gives "de_DE"); "C" and
// "POSIX" give "en". Empty when none of them is set.
std::vector<std::string> EnvironmentLanguages();

// The first of EnvironmentLanguages() that has a catalog (de_AT counts when de has one), as
// listed there; "en" when none has.
std::string DefaultLanguage();

// The codes that have a catalog in one of the catalog folders, sorted, each once.
std::vector<std::string> GetInstalledLanguages();

// The folders searched for catalogs, in search order.
std::vector<std::string> GetCatalogFolders();

// Replaces the catalog folders (for tests); an empty list restores the program's own.
// The current catalog stays in use until the next UseLanguage.
void SetCatalogFolders(std::vector<std::string> Folders);

} // namespace qv
