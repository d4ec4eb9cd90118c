#pragma once
// Names of the user-interface languages and the texts the language list shows for them,
// such as "German [de]". The names are English and are not translated.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct TLanguageEntry {
    const char* Code;
    const char* Name;
};

// The fixed table of codes and names, in its own order.
std::span<const TLanguageEntry> LanguageTable();

// The name of Code: for a code longer than two characters the entry of exactly that code
// (en_GB: "British English"), else, or when there is none, the entry of its first two
// characters (de_AT: "German"); empty when neither exists.
std::string LanguageName(std::string_view Code);

// LanguageName(Code) + " [" + Code + "]", for example "German [de]".
std::string LanguageDisplayText(std::string_view Code);

// The display text of Code cut before its first "_": de_AT gives "German [de]".
std::string LanguageBaseDisplayText(std::string_view Code);

// The characters between the first "[" and the next "]"; empty when there are none.
std::string LanguageCodeOfText(std::string_view Text);

// The display texts of every language with an installed catalog, plus English, sorted by
// the collation of the user's locale (LC_COLLATE of the environment; the C locale's order
// when that locale does not exist).
std::vector<std::string> GetLanguageList();

} // namespace qv
