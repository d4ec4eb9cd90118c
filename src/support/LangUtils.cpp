#include "support/LangUtils.h"

#include "support/Translate.h"

#include <algorithm>
#include <array>
#include <locale.h> // newlocale, POSIX 2008
#include <string.h> // strcoll_l

namespace qv {
namespace {

constexpr std::array<TLanguageEntry, 189> Languages{{
    {"aa", "Afar"},
    {"ab", "Abkhazian"},
    {"ae", "Avestan"},
    {"af", "Afrikaans"},
    {"ak", "Akan"},
    {"am", "Amharic"},
    {"an", "Aragonese"},
    {"ar", "Arabic"},
    {"as", "Assamese"},
    {"av", "Avaric"},
    {"ay", "Aymara"},
    {"az", "Azerbaijani"},
    {"ba", "Bashkir"},
    {"be", "Belarusian"},
    {"bg", "Bulgarian"},
    {"bh", "Bihari"},
    {"bi", "Bislama"},
    {"bm", "Bambara"},
    {"bn", "Bengali"},
    {"bo", "Tibetan"},
    {"br", "Breton"},
    {"bs", "Bosnian"},
    {"ca", "Catalan"},
    {"ce", "Chechen"},
    {"ch", "Chamorro"},
    {"co", "Corsican"},
    {"cr", "Cree"},
    {"cs", "Czech"},
    {"cv", "Chuvash"},
    {"cy", "Welsh"},
    {"da", "Danish"},
    {"de", "German"},
    {"dv", "Divehi"},
    {"dz", "Dzongkha"},
    {"ee", "Ewe"},
    {"el", "Greek"},
    {"en", "English"},
    {"en_US", "American English"},
    {"en_GB", "British English"},
    {"en_AU", "Australian English"},
    {"eo", "Esperanto"},
    {"es", "Spanish"},
    {"et", "Estonian"},
    {"eu", "Basque"},
    {"fa", "Persian"},
    {"ff", "Fulah"},
    {"fi", "Finnish"},
    {"fj", "Fijian"},
    {"fo", "Faroese"},
    {"fr", "French"},
    {"fr_BE", "Walloon"},
    {"fy", "Frisian"},
    {"ga", "Irish"},
    {"gd", "Gaelic"},
    {"gl", "Gallegan"},
    {"gn", "Guarani"},
    {"gu", "Gujarati"},
    {"gv", "Manx"},
    {"ha", "Hausa"},
    {"he", "Hebrew"},
    {"hi", "Hindi"},
    {"ho", "Hiri Motu"},
    {"hr", "Croatian"},
    {"ht", "Haitian"},
    {"hu", "Hungarian"},
    {"hy", "Armenian"},
    {"hz", "Herero"},
    {"ia", "Interlingua"},
    {"id", "Indonesian"},
    {"ie", "Interlingue"},
    {"ig", "Igbo"},
    {"ii", "Sichuan Yi"},
    {"ik", "Inupiaq"},
    {"io", "Ido"},
    {"is", "Icelandic"},
    {"it", "Italian"},
    {"iu", "Inuktitut"},
    {"ja", "Japanese"},
    {"jv", "Javanese"},
    {"ka", "Georgian"},
    {"kg", "Kongo"},
    {"ki", "Kikuyu"},
    {"kj", "Kuanyama"},
    {"kk", "Kazakh"},
    {"kl", "Greenlandic"},
    {"km", "Khmer"},
    {"kn", "Kannada"},
    {"ko", "Korean"},
    {"kr", "Kanuri"},
    {"ks", "Kashmiri"},
    {"ku", "Kurdish"},
    {"kw", "Cornish"},
    {"kv", "Komi"},
    {"ky", "Kirghiz"},
    {"la", "Latin"},
    {"lb", "Luxembourgish"},
    {"lg", "Ganda"},
    {"li", "Limburgan"},
    {"ln", "Lingala"},
    {"lo", "Lao"},
    {"lt", "Lithuanian"},
    {"lu", "Luba-Katanga"},
    {"lv", "Latvian"},
    {"mg", "Malagasy"},
    {"mh", "Marshallese"},
    {"mi", "Maori"},
    {"mk", "Macedonian"},
    {"ml", "Malayalam"},
    {"mn", "Mongolian"},
    {"mo", "Moldavian"},
    {"mr", "Marathi"},
    {"ms", "Malay"},
    {"mt", "Maltese"},
    {"my", "Burmese"},
    {"na", "Nauru"},
    {"nb", "Norwegian Bokmaal"},
    {"nd", "Ndebele, North"},
    {"ne", "Nepali"},
    {"ng", "Ndonga"},
    {"nl", "Dutch"},
    {"nl_BE", "Flemish"},
    {"nn", "Norwegian Nynorsk"},
    {"no", "Norwegian"},
    {"nr", "Ndebele, South"},
    {"nv", "Navajo"},
    {"ny", "Chichewa"},
    {"oc", "Occitan"},
    {"oj", "Ojibwa"},
    {"om", "Oromo"},
    {"or", "Oriya"},
    {"os", "Ossetian"},
    {"pa", "Panjabi"},
    {"pi", "Pali"},
    {"pl", "Polish"},
    {"ps", "Pushto"},
    {"pt", "Portuguese"},
    {"qu", "Quechua"},
    {"rm", "Raeto-Romance"},
    {"rn", "Rundi"},
    {"ro", "Romanian"},
    {"ru", "Russian"},
    {"rw", "Kinyarwanda"},
    {"sa", "Sanskrit"},
    {"sc", "Sardinian"},
    {"sd", "Sindhi"},
    {"se", "Northern Sami"},
    {"sg", "Sango"},
    {"si", "Sinhalese"},
    {"sk", "Slovak"},
    {"sl", "Slovenian"},
    {"sm", "Samoan"},
    {"sn", "Shona"},
    {"so", "Somali"},
    {"sq", "Albanian"},
    {"sr", "Serbian"},
    {"ss", "Swati"},
    {"st", "Sotho, Southern"},
    {"su", "Sundanese"},
    {"sv", "Swedish"},
    {"sw", "Swahili"},
    {"ta", "Tamil"},
    {"te", "Telugu"},
    {"tg", "Tajik"},
    {"th", "Thai"},
    {"ti", "Tigrinya"},
    {"tk", "Turkmen"},
    {"tl", "Tagalog"},
    {"tn", "Tswana"},
    {"to", "Tonga"},
    {"tr", "Turkish"},
    {"ts", "Tsonga"},
    {"tt", "Tatar"},
    {"tw", "Twi"},
    {"ty", "Tahitian"},
    {"ug", "Uighur"},
    {"uk", "Ukrainian"},
    {"ur", "Urdu"},
    {"uz", "Uzbek"},
    {"ve", "Venda"},
    {"vi", "Vietnamese"},
    {"vo", "Volapuk"},
    {"wa", "Walloon"},
    {"wo", "Wolof"},
    {"xh", "Xhosa"},
    {"yi", "Yiddish"},
    {"yo", "Yoruba"},
    {"za", "Zhuang"},
    {"zh", "Chinese"},
    {"zu", "Zulu"},
}};

// Sorts with the user's collation without touching the process's global locale, which
// other threads read (number formatting, log output).
void SortByUserCollation(std::vector<std::string>& Texts) {
    locale_t collation = newlocale(LC_COLLATE_MASK, "", locale_t(nullptr));
    if (collation == locale_t(nullptr))
        collation = newlocale(LC_COLLATE_MASK, "C", locale_t(nullptr));
    std::sort(Texts.begin(), Texts.end(), [collation](const std::string& a, const std::string& b) {
        if (collation != locale_t(nullptr)) {
            // Texts that collate alike still get one fixed order.
            if (const int order = strcoll_l(a.c_str(), b.c_str(), collation); order != 0)
                return order < 0;
        }
        return a < b;
    });
    if (collation != locale_t(nullptr))
        freelocale(collation);
}

} // namespace

std::span<const TLanguageEntry> LanguageTable() {
    return Languages;
}

std::string LanguageName(std::string_view Code) {
    const auto nameOf = [](std::string_view Wanted) -> const char* {
        for (const TLanguageEntry& entry : Languages)
            if (Wanted == entry.Code)
                return entry.Name;
        return nullptr;
    };
    if (Code.size() > 2)
        if (const char* name = nameOf(Code))
            return name;
    const char* name = nameOf(Code.substr(0, 2));
    return name != nullptr ? name : "";
}

std::string LanguageDisplayText(std::string_view Code) {
    return LanguageName(Code) + " [" + std::string(Code) + "]";
}

std::string LanguageBaseDisplayText(std::string_view Code) {
    return LanguageDisplayText(Code.substr(0, Code.find('_')));
}

std::string LanguageCodeOfText(std::string_view Text) {
    const std::size_t open = Text.find('[');
    if (open == std::string_view::npos)
        return {};
    const std::size_t close = Text.find(']', open + 1);
    if (close == std::string_view::npos)
        return {};
    return std::string(Text.substr(open + 1, close - open - 1));
}

std::vector<std::string> GetLanguageList() {
    std::vector<std::string> codes = GetInstalledLanguages();
    if (std::find(codes.begin(), codes.end(), "en") == codes.end())
        codes.push_back("en");
    std::vector<std::string> texts;
    texts.reserve(codes.size());
    for (const std::string& code : codes)
        texts.push_back(LanguageDisplayText(code));
    SortByUserCollation(texts);
    return texts;
}

} // namespace qv
