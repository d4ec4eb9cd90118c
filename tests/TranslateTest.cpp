// Translation with the catalogs this build compiled (<build>/locale, beside the test
// executable), damaged catalogs, the language of the environment, switching languages while
// other threads translate, and the language names of the preferences.

#include "support/Translate.h"

#include "TestTree.h"
#include "support/LangUtils.h"
#include "support/QvLogger.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string BuiltCatalogFolder() {
    return (fs::read_symlink("/proc/self/exe").parent_path() / "locale").string();
}

std::string BuiltCatalog(const std::string& Code) {
    const std::string path = BuiltCatalogFolder() + "/" + Code + "/LC_MESSAGES/default.mo";
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes Bytes as the catalog of Code below Folder.
void WriteCatalog(const std::string& Folder, const std::string& Code, const std::string& Bytes) {
    const fs::path dir = fs::path(Folder) / Code / "LC_MESSAGES";
    fs::create_directories(dir);
    std::ofstream out(dir / "default.mo", std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), std::streamsize(Bytes.size()));
    ASSERT_TRUE(out.good());
}

std::uint32_t WordAt(const std::string& Image, std::size_t At) {
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i)
        word = (word << 8) | static_cast<unsigned char>(Image[At + i]);
    return word;
}

void SetWordAt(std::string& Image, std::size_t At, std::uint32_t Word) {
    for (int i = 0; i < 4; ++i)
        Image[At + i] = char((Word >> (8 * i)) & 0xff);
}

// A .mo image of Entries (the header under the empty key), without a hash table, so that
// the reader takes its other path.
std::string MoImage(const std::map<std::string, std::string>& Entries, bool BigEndian = false) {
    const auto count = std::uint32_t(Entries.size());
    std::vector<std::uint32_t> words = {0x950412de,     0, count,          28,
                                        28 + 8 * count, 0, 28 + 16 * count};
    std::string strings;
    for (const bool values : {false, true})
        for (const auto& [key, value] : Entries) {
            const std::string& text = values ? value : key;
            words.insert(words.end(), {std::uint32_t(text.size()),
                                       28 + 16 * count + std::uint32_t(strings.size())});
            strings += text + '\0';
        }
    std::string image;
    for (const std::uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            image += char((word >> (BigEndian ? 24 - 8 * i : 8 * i)) & 0xff);
    return image + strings;
}

const char* const Utf8Header = "Content-Type: text/plain; charset=UTF-8\n"
                               "Plural-Forms: nplurals=2; plural=(n != 1);\n";

// Clears the environment's language variables and puts them back afterwards.
class TEnvironment {
public:
    TEnvironment() {
        for (const char* name : Names) {
            if (const char* value = std::getenv(name))
                Saved[name] = value;
            unsetenv(name);
        }
    }
    ~TEnvironment() {
        for (const char* name : Names)
            unsetenv(name);
        for (const auto& [name, value] : Saved)
            setenv(name.c_str(), value.c_str(), 1);
    }
    // A null Value unsets Name.
    void Set(const char* Name, const char* Value) {
        Value ? setenv(Name, Value, 1) : unsetenv(Name);
    }

private:
    static constexpr const char* Names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG",
                                            "LC_COLLATE"};
    std::map<std::string, std::string> Saved;
};

// Collects the error lines of the logger while it lives.
class TErrorLog {
public:
    TErrorLog() {
        Previous = SetLogSink([this](TLogLevel Level, std::string_view Message) {
            std::lock_guard guard(Lock);
            if (Level == llError)
                Lines.emplace_back(Message);
        });
    }
    ~TErrorLog() { SetLogSink(std::move(Previous)); }

    std::vector<std::string> Take() {
        std::lock_guard guard(Lock);
        return std::exchange(Lines, {});
    }

private:
    TLogSink Previous;
    std::mutex Lock;
    std::vector<std::string> Lines;
};

// Every test starts from the catalogs the build compiled, in no language, and leaves the
// program's own folders behind.
class TranslateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::is_regular_file(BuiltCatalogFolder() + "/de/LC_MESSAGES/default.mo"))
            << "the build did not compile the catalogs into " << BuiltCatalogFolder();
        SetCatalogFolders({BuiltCatalogFolder()});
    }
    void TearDown() override {
        SetCatalogFolders({});
        UseLanguage("en");
    }
    TEnvironment Environment;
};

TEST_F(TranslateTest, SwitchesBetweenTheBuiltCatalogsInOneProcess) {
    Environment.Set("LANG", "zh_CN.UTF-8");
    // The Chinese keys have an English translation, which also stands in for a language
    // without a catalog. A code is never a path, "C" and "POSIX" mean English, and the empty
    // code the environment's.
    const struct {
        const char* Code;
        bool Found;
        const char* Current;
        const char* Grouped;
        const char* Rounding;
    } steps[] = {
        {"de", true, "de", "Gruppierte Dateien", "Mathematisches Runden"},
        {"zh_CN", true, "zh_CN", "分组的文件", "银行家舍入"},
        {"en", true, "en", "Grouped Files", "Banker's rounding"},
        {"de_AT", true, "de_AT", "Gruppierte Dateien", "Mathematisches Runden"},
        {"xx", false, "xx", "Grouped Files", "Banker's rounding"},
        {"de_DE.UTF-8@euro", true, "de_DE", "Gruppierte Dateien", "Mathematisches Runden"},
        {"zh", true, "zh", "分组的文件", "银行家舍入"}, // the only Chinese catalog, zh_CN
        {"zh_TW", false, "zh_TW", "Grouped Files", "Banker's rounding"},
        {"x/../de", false, nullptr, "Grouped Files", "Banker's rounding"},
        {"C", true, "en", "Grouped Files", "Banker's rounding"},
        {"", true, "zh_CN", "分组的文件", "银行家舍入"},
        {"POSIX", true, "en", "Grouped Files", "Banker's rounding"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Code);
        EXPECT_EQ(UseLanguage(step.Code), step.Found);
        if (step.Current) {
            EXPECT_EQ(CurrentLanguage(), step.Current);
        }
        EXPECT_EQ(Tr("Grouped Files"), step.Grouped);
        EXPECT_EQ(Tr("银行四舍五入"), step.Rounding);
    }
    EXPECT_EQ(Tr("向下舍入（类似资源管理器）"), "Round down (like the file manager)");

    ASSERT_TRUE(UseLanguage("zh_CN"));
    EXPECT_EQ(Tr("The root element has an invalid type: %s"), "根元素的类型无效：%s");
    EXPECT_EQ(Tr("Local Drives"), "本地驱动器");
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Local Drives"), "Lokale Laufwerke");
    EXPECT_EQ(Tr("向下舍入（类似资源管理器）"), "Abrunden (wie der Dateimanager)");
    // Keys without a translation stand for themselves, matched byte for byte; the empty key
    // would be the catalog's header.
    EXPECT_EQ(Tr("A text no catalog has"), "A text no catalog has");
    EXPECT_EQ(Tr("grouped files"), "grouped files");
    EXPECT_EQ(Tr(""), "");
    EXPECT_EQ(Tr(nullptr), "");

    // Without an English catalog English shows the keys too.
    test::TTempDir empty;
    SetCatalogFolders({empty.Path()});
    EXPECT_FALSE(UseLanguage("en"));
    EXPECT_EQ(Tr("银行四舍五入"), "银行四舍五入");
}

TEST_F(TranslateTest, RegionBeatsLanguageAndEarlierFolderBeatsLater) {
    // Real catalogs under other names, so that the text tells which file was taken.
    test::TTempDir first, second;
    WriteCatalog(first.Path(), "de", BuiltCatalog("de"));
    WriteCatalog(second.Path(), "de_AT", BuiltCatalog("zh_CN"));
    WriteCatalog(second.Path(), "de", BuiltCatalog("zh_CN"));
    SetCatalogFolders({first.Path(), second.Path()});

    ASSERT_TRUE(UseLanguage("de_AT")); // de_AT in any folder comes before de
    EXPECT_EQ(Tr("Grouped Files"), "分组的文件");
    ASSERT_TRUE(UseLanguage("de_CH"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");

    SetCatalogFolders({second.Path(), first.Path()});
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Grouped Files"), "分组的文件");
}

TEST_F(TranslateTest, EnvironmentListsLanguagesInGettextOrder) {
    EXPECT_EQ(EnvironmentLanguages(), std::vector<std::string>{}) << "nothing set";
    EXPECT_EQ(DefaultLanguage(), "en") << "nothing set";
    using TList = std::vector<std::string>;
    const struct {
        const char* Name;
        const char* Value;
        TList Languages;
    } steps[] = {
        {"LANG", "de_DE.UTF-8", {"de_DE"}},
        {"LC_MESSAGES", "fr_FR.ISO-8859-1", {"fr_FR"}},
        {"LC_ALL", "sr_RS@latin", {"sr_RS"}},
        {"LANGUAGE", "pt_BR:de", {"pt_BR", "de", "sr_RS"}},
        {"LANGUAGE", ":nl::de_AT.UTF-8:", {"nl", "de_AT", "sr_RS"}}, // empty entries are skipped
        {"LANGUAGE", "", {"sr_RS"}},                                 // empty counts as unset
        {"LC_ALL", "C", {"en"}},
        {"LC_ALL", "C.UTF-8", {"en"}},
        {"LC_ALL", nullptr, {"fr_FR"}},
        {"LC_MESSAGES", "POSIX", {"en"}},
        {"LC_MESSAGES", nullptr, {"de_DE"}},
        {"LANG", nullptr, {}},
    };
    for (const auto& step : steps) {
        Environment.Set(step.Name, step.Value);
        EXPECT_EQ(EnvironmentLanguages(), step.Languages)
            << step.Name << "=" << (step.Value ? step.Value : "(unset)");
    }
}

TEST_F(TranslateTest, StartLanguageIsTheFirstListedWithACatalogElseEnglish) {
    using TVars = std::vector<std::pair<const char*, const char*>>;
    const struct {
        TVars Vars;
        const char* Language; // what DefaultLanguage picks
        const char* Size;     // the column header "大小"
        const char* Grouped;
    } cases[] = {
        {{{"LANGUAGE", "fr"}}, "en", "Size", "Grouped Files"},
        {{{"LANGUAGE", "fr:de"}}, "de", "Größe", "Gruppierte Dateien"},
        {{{"LANGUAGE", "fr_FR:de_AT"}}, "de_AT", "Größe", "Gruppierte Dateien"},
        {{{"LANGUAGE", "zh"}}, "zh", "大小", "分组的文件"},
        {{{"LANGUAGE", "zh_TW:zh_HK"}}, "en", "Size", "Grouped Files"},
        {{{"LANG", "zh_TW.UTF-8"}}, "en", "Size", "Grouped Files"},
        {{{"LANGUAGE", "fr"}, {"LANG", "de_DE.UTF-8"}}, "de_DE", "Größe", "Gruppierte Dateien"},
        {{{"LANGUAGE", "fr"}, {"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}},
         "en",
         "Size",
         "Grouped Files"},
    };
    for (const auto& c : cases) {
        TEnvironment environment;
        std::string trace;
        for (const auto& [name, value] : c.Vars) {
            environment.Set(name, value);
            trace += std::string(name) + "=" + value + " ";
        }
        SCOPED_TRACE(trace);
        EXPECT_EQ(DefaultLanguage(), c.Language);
        // As the program starts, and as the empty code does.
        for (const std::string& code : {DefaultLanguage(), std::string()}) {
            UseLanguage(code);
            EXPECT_EQ(CurrentLanguage(), c.Language);
            EXPECT_EQ(Tr("大小"), c.Size);
            EXPECT_EQ(Tr("Grouped Files"), c.Grouped);
        }
    }
    // A language chosen explicitly beats the environment.
    Environment.Set("LANGUAGE", "fr");
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("大小"), "Größe");
}

TEST_F(TranslateTest, CatalogFoldersAndInstalledLanguages) {
    SetCatalogFolders({});
    const std::vector<std::string> folders = GetCatalogFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], BuiltCatalogFolder()) << "beside the executable comes first";
    // Then as an installed bin/quorvel would find <prefix>/share, wherever the prefix is.
    const fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(folders[1], (exeDir.parent_path() / "share/quorvel/locale").string());
    EXPECT_TRUE(folders[2].ends_with("/share/quorvel/locale")) << folders[2];
    EXPECT_NE(folders[2], folders[1]);
    // The program finds the build's catalogs without any help.
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");

    const std::vector<std::string> built = GetInstalledLanguages();
    for (const char* code : {"de", "en", "zh_CN"})
        EXPECT_NE(std::find(built.begin(), built.end(), code), built.end()) << code;
    EXPECT_TRUE(std::is_sorted(built.begin(), built.end()));

    // Only folders holding the catalog of the domain count; a code in two folders once.
    test::TTempDir one, two;
    for (const char* code : {"de", "fr"})
        WriteCatalog(one.Path(), code, BuiltCatalog("de"));
    for (const char* code : {"de", "it"})
        WriteCatalog(two.Path(), code, BuiltCatalog("de"));
    one.MkDir("es/LC_MESSAGES");
    one.File("nl/LC_MESSAGES/other.mo", 100);
    one.File("pl", 10);
    one.MkDir("ru/LC_MESSAGES/default.mo");
    SetCatalogFolders({one.Path(), two.Path() + "/", one.Path() + "/missing"});
    EXPECT_EQ(GetInstalledLanguages(), (std::vector<std::string>{"de", "fr", "it"}));
}

TEST_F(TranslateTest, DamagedCatalogsAreIgnored) {
    const std::string good = BuiltCatalog("de");
    ASSERT_GE(good.size(), 28u);
    const std::uint32_t count = WordAt(good, 8);
    const std::uint32_t keys = WordAt(good, 12);
    ASSERT_GT(WordAt(good, 20), 2u) << "msgfmt writes a hash table";
    const auto patched = [](std::string Image, std::size_t At, std::uint32_t Word) {
        SetWordAt(Image, At, Word);
        return Image;
    };
    std::string garbage(4096, '\0');
    std::mt19937 random(42);
    for (char& c : garbage)
        c = char(random());
    const auto size = std::uint32_t(good.size());

    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty file", ""},
        {"garbage", garbage},
        {"garbage behind the magic number", patched(garbage, 0, 0x950412de)},
        {"too short", good.substr(0, 20)},
        {"truncated to half", good.substr(0, good.size() / 2)},
        {"truncated by one byte", good.substr(0, good.size() - 1)},
        // Its look-up would divide by the hash size minus 2.
        {"hash size 2", patched(good, 20, 2)},
        {"key beyond the end", patched(good, keys + 8 * (count - 1) + 4, size + 100)},
        {"value beyond the end", patched(good, WordAt(good, 16) + 4, size - 2)},
        {"key without its NUL", patched(good, keys + 8, WordAt(good, keys + 8) + 1)},
        {"string tables beyond the end", patched(good, 8, 0x10000000)},
        {"hash table beyond the end", patched(good, 24, size - 8)},
        {"unknown revision", patched(good, 4, 0x00020000)},
        {"no charset in the header", MoImage({{"", "Language: de\n"}, {"Grouped Files", "X"}})},
        {"unknown charset", MoImage({{"", "Content-Type: text/plain; charset=NO-SUCH-SET\n"},
                                     {"Grouped Files", "X"}})},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        test::TTempDir folder;
        WriteCatalog(folder.Path(), "de", bytes);
        SetCatalogFolders({folder.Path()});
        TErrorLog log;
        bool found = true;
        EXPECT_NO_THROW(found = UseLanguage("de"));
        EXPECT_FALSE(found);
        EXPECT_EQ(CurrentLanguage(), "de");
        EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");
        EXPECT_EQ(Tr("Local Drives"), "Local Drives");
        const std::vector<std::string> errors = log.Take();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(folder.Path()), std::string::npos) << errors[0];
    }

    // A damaged regional catalog gives way to the language's own.
    test::TTempDir folder;
    WriteCatalog(folder.Path(), "de_AT", garbage);
    WriteCatalog(folder.Path(), "de", good);
    SetCatalogFolders({folder.Path()});
    TErrorLog log;
    ASSERT_TRUE(UseLanguage("de_AT"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");
    EXPECT_EQ(log.Take().size(), 1u);
}

TEST_F(TranslateTest, CatalogsOfOtherLayoutsAndCharsets) {
    test::TTempDir folder;
    SetCatalogFolders({folder.Path()});
    // Big-endian, without a hash table.
    WriteCatalog(folder.Path(), "nl",
                 MoImage({{"", Utf8Header}, {"Grouped Files", "Gegroepeerde bestanden"}}, true));
    ASSERT_TRUE(UseLanguage("nl"));
    EXPECT_EQ(Tr("Grouped Files"), "Gegroepeerde bestanden");
    EXPECT_EQ(Tr("Local Drives"), "Local Drives");

    // A Latin-1 catalog still yields UTF-8, and its keys are matched as UTF-8 too.
    WriteCatalog(folder.Path(), "fr",
                 MoImage({{"", "Content-Type: text/plain; charset=ISO-8859-1\n"},
                          {"Grouped Files", "Fichiers group\xe9s"},
                          {"Gr\xf6\xdf\x65", "Taille"}}));
    ASSERT_TRUE(UseLanguage("fr"));
    EXPECT_EQ(Tr("Grouped Files"), "Fichiers group\u00e9s");
    EXPECT_EQ(Tr("Gr\u00f6\u00dfe"), "Taille");

    // An empty translation is no translation.
    WriteCatalog(folder.Path(), "it", MoImage({{"", Utf8Header}, {"Grouped Files", ""}}));
    ASSERT_TRUE(UseLanguage("it"));
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");

    // A key with a plural gives its first form; a key with a context serves no plain key.
    using namespace std::string_literals;
    WriteCatalog(folder.Path(), "sv",
                 MoImage({{"", Utf8Header},
                          {"File\0Files"s, "Fil\0Filer"s},
                          {"menu\x04Open", "\u00d6ppna"},
                          {"Open", "Visa"}}));
    ASSERT_TRUE(UseLanguage("sv"));
    EXPECT_EQ(Tr("File"), "Fil");
    EXPECT_EQ(Tr("Files"), "Files");
    EXPECT_EQ(Tr("Open"), "Visa");
    EXPECT_EQ(Tr("menu"), "menu");
}

TEST_F(TranslateTest, ThreadsTranslateWhileTheLanguageChanges) {
    const std::set<std::string> groupTexts = {"Gruppierte Dateien", "分组的文件", "Grouped Files"};
    const std::set<std::string> roundingTexts = {"Mathematisches Runden", "银行家舍入",
                                                 "Banker's rounding", "银行四舍五入"};
    const std::set<std::string> languages = {"de", "zh_CN", "en", "xx"};
    const char* const codes[] = {"de", "zh_CN", "en", "xx"};
    std::atomic<bool> done = false;
    std::atomic<int> wrong = 0, started = 0;
    std::atomic<long> calls = 0;

    UseLanguage("de");
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&] {
            ++started;
            for (; !done; ++calls)
                if (!groupTexts.contains(Tr("Grouped Files")) ||
                    !roundingTexts.contains(Tr("银行四舍五入")) ||
                    !languages.contains(CurrentLanguage()))
                    ++wrong;
        });
    while (started < 4)
        std::this_thread::yield();
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        // The folder list is swapped along the way too; both lists hold the same catalogs.
        SetCatalogFolders(i % 2 == 0 ? std::vector<std::string>{}
                                     : std::vector<std::string>{BuiltCatalogFolder()});
        EXPECT_EQ(UseLanguage(codes[i % 4]), i % 4 != 3) << codes[i % 4];
        seen.insert(Tr("Grouped Files"));
    }
    done = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(seen, groupTexts);
}

TEST(LangUtilsTest, TableHoldsTheLanguagesInOrder) {
    const auto table = LanguageTable();
    ASSERT_EQ(table.size(), 189u);
    EXPECT_STREQ(table.front().Code, "aa");
    EXPECT_STREQ(table.front().Name, "Afar");
    EXPECT_STREQ(table.back().Code, "zu");
    EXPECT_STREQ(table.back().Name, "Zulu");
    std::set<std::string> codes;
    for (const TLanguageEntry& entry : table) {
        EXPECT_TRUE(codes.insert(entry.Code).second) << entry.Code;
        EXPECT_NE(*entry.Name, '\0') << entry.Code;
        // Every display text gives its code back.
        EXPECT_EQ(LanguageCodeOfText(LanguageDisplayText(entry.Code)), entry.Code);
    }
    // The regional entries follow their language; the rest is in code order.
    const auto at = [&](const char* Code) {
        return std::find_if(table.begin(), table.end(),
                            [&](const TLanguageEntry& e) { return std::string(e.Code) == Code; }) -
               table.begin();
    };
    EXPECT_EQ(at("en_US"), at("en") + 1);
    EXPECT_EQ(at("en_GB"), at("en") + 2);
    EXPECT_EQ(at("en_AU"), at("en") + 3);
    EXPECT_EQ(at("eo"), at("en") + 4);
    EXPECT_EQ(at("kv"), at("kw") + 1) << "kw Cornish comes before kv Komi";
    EXPECT_EQ(at("zh"), 187);
}

TEST(LangUtilsTest, NamesAndDisplayTexts) {
    // Only longer codes are looked up whole: "en_" is not an entry, "en" is.
    const std::pair<const char*, const char*> names[] = {{"de", "German"},
                                                         {"de_AT", "German"},
                                                         {"en_GB", "British English"},
                                                         {"en_NZ", "English"},
                                                         {"fr_BE", "Walloon"},
                                                         {"nl_BE", "Flemish"},
                                                         {"nd", "Ndebele, North"},
                                                         {"zh_CN", "Chinese"},
                                                         {"xx", ""},
                                                         {"xx_GB", ""},
                                                         {"d", ""},
                                                         {"", ""},
                                                         {"en_", "English"}};
    for (const auto& [code, name] : names)
        EXPECT_EQ(LanguageName(code), name) << code;

    EXPECT_EQ(LanguageDisplayText("de"), "German [de]");
    EXPECT_EQ(LanguageDisplayText("en_GB"), "British English [en_GB]");
    EXPECT_EQ(LanguageDisplayText("xx"), " [xx]");
    EXPECT_EQ(LanguageBaseDisplayText("de_AT"), "German [de]");
    EXPECT_EQ(LanguageBaseDisplayText("en_GB"), "English [en]");
    EXPECT_EQ(LanguageBaseDisplayText("de"), "German [de]");

    const std::pair<const char*, const char*> codes[] = {
        {"German [de]", "de"}, {"British English [en_GB]", "en_GB"},
        {" [xx]", "xx"},       {"[]", ""},
        {"German", ""},        {"German [de", ""},
        {"A [b] [c]", "b"}};
    for (const auto& [text, code] : codes)
        EXPECT_EQ(LanguageCodeOfText(text), code) << text;
}

TEST_F(TranslateTest, LanguageListAddsEnglishAndSortsByDisplayText) {
    std::vector<std::string> list = GetLanguageList();
    for (const char* text : {"English [en]", "German [de]", "Chinese [zh_CN]"})
        EXPECT_EQ(std::count(list.begin(), list.end(), text), 1) << text;
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));

    test::TTempDir folder;
    for (const char* code : {"de", "fr"})
        WriteCatalog(folder.Path(), code, BuiltCatalog("de"));
    SetCatalogFolders({folder.Path()});
    const std::vector<std::string> expected = {"English [en]", "French [fr]", "German [de]"};
    EXPECT_EQ(GetLanguageList(), expected);
    // A locale the system lacks sorts like the C locale.
    Environment.Set("LC_ALL", "xx_YY.UTF-8");
    EXPECT_EQ(GetLanguageList(), expected);
    Environment.Set("LC_ALL", "C.UTF-8");
    EXPECT_EQ(GetLanguageList(), expected);

    // A code without a name shows as a blank and its code, and so sorts first.
    for (const char* code : {"xx", "ii"})
        WriteCatalog(folder.Path(), code, BuiltCatalog("de"));
    EXPECT_EQ(GetLanguageList(), (std::vector<std::string>{" [xx]", "English [en]", "French [fr]",
                                                           "German [de]", "Sichuan Yi [ii]"}));

    test::TTempDir empty;
    SetCatalogFolders({empty.Path()});
    EXPECT_EQ(GetLanguageList(), std::vector<std::string>{"English [en]"});
}

} // namespace
} // namespace qv
