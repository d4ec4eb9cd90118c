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
#include <optional>
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

std::string BuiltCatalogPath(const std::string& Code) {
    return BuiltCatalogFolder() + "/" + Code + "/LC_MESSAGES/default.mo";
}

std::string ReadBytes(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    EXPECT_TRUE(in) << Path;
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

void CopyBuiltCatalog(const std::string& From, const std::string& Folder, const std::string& Code) {
    WriteCatalog(Folder, Code, ReadBytes(BuiltCatalogPath(From)));
}

// A .mo image of Entries (the header under the empty key), without a hash table, so that
// the reader takes its other path.
std::string MoImage(const std::map<std::string, std::string>& Entries, bool BigEndian = false) {
    std::string image;
    const auto put = [&](std::uint32_t Word) {
        for (int i = 0; i < 4; ++i) {
            const int shift = BigEndian ? 24 - 8 * i : 8 * i;
            image += char((Word >> shift) & 0xff);
        }
    };
    const auto count = std::uint32_t(Entries.size());
    const std::uint32_t keys = 28;
    const std::uint32_t values = keys + 8 * count;
    std::uint32_t at = values + 8 * count;
    std::string strings;
    std::vector<std::uint32_t> keyTable, valueTable;
    for (const auto& [key, value] : Entries) {
        keyTable.insert(keyTable.end(),
                        {std::uint32_t(key.size()), at + std::uint32_t(strings.size())});
        strings += key + '\0';
    }
    for (const auto& [key, value] : Entries) {
        valueTable.insert(valueTable.end(),
                          {std::uint32_t(value.size()), at + std::uint32_t(strings.size())});
        strings += value + '\0';
    }
    put(0x950412de);
    put(0);
    put(count);
    put(keys);
    put(values);
    put(0);
    put(at);
    for (std::uint32_t word : keyTable)
        put(word);
    for (std::uint32_t word : valueTable)
        put(word);
    return image + strings;
}

const char* const Utf8Header = "Content-Type: text/plain; charset=UTF-8\n"
                               "Plural-Forms: nplurals=2; plural=(n != 1);\n";

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

// Sets and unsets the environment's language variables and puts them back afterwards.
class TEnvironment {
public:
    TEnvironment() {
        for (const char* name : Names)
            if (const char* value = std::getenv(name))
                Saved[name] = value;
        for (const char* name : Names)
            unsetenv(name);
    }
    ~TEnvironment() {
        for (const char* name : Names)
            unsetenv(name);
        for (const auto& [name, value] : Saved)
            setenv(name.c_str(), value.c_str(), 1);
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

    void Set(const char* Name, const char* Value) { setenv(Name, Value, 1); }
    void Unset(const char* Name) { unsetenv(Name); }

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
            if (Level == llError) {
                std::lock_guard guard(Lock);
                Lines.emplace_back(Message);
            }
        });
    }
    ~TErrorLog() { SetLogSink(std::move(Previous)); }
    TErrorLog(const TErrorLog&) = delete;
    TErrorLog& operator=(const TErrorLog&) = delete;

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
        ASSERT_TRUE(fs::is_regular_file(BuiltCatalogPath("de")))
            << "the build did not compile the catalogs into " << BuiltCatalogFolder();
        SetCatalogFolders({BuiltCatalogFolder()});
    }
    void TearDown() override {
        SetCatalogFolders({});
        UseLanguage("en");
    }
};

TEST_F(TranslateTest, SwitchesBetweenTheBuiltCatalogsInOneProcess) {
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(CurrentLanguage(), "de");
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");
    EXPECT_EQ(Tr("Local Drives"), "Lokale Laufwerke");
    EXPECT_EQ(Tr("银行四舍五入"), "Mathematisches Runden");

    ASSERT_TRUE(UseLanguage("zh_CN"));
    EXPECT_EQ(CurrentLanguage(), "zh_CN");
    EXPECT_EQ(Tr("Grouped Files"), "分组的文件");
    EXPECT_EQ(Tr("The root element has an invalid type: %s"), "根元素的类型无效：%s");

    // English keeps the English keys and puts the Chinese ones into English.
    ASSERT_TRUE(UseLanguage("en"));
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");
    EXPECT_EQ(Tr("银行四舍五入"), "Banker's rounding");
    EXPECT_EQ(Tr("向下舍入（类似资源管理器）"), "Round down (like the file manager)");

    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");
    EXPECT_EQ(Tr("向下舍入（类似资源管理器）"), "Abrunden (wie der Dateimanager)");
}

TEST_F(TranslateTest, KeysWithoutTranslationStandForThemselves) {
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("A text no catalog has"), "A text no catalog has");
    EXPECT_EQ(Tr("grouped files"), "grouped files") << "keys are matched byte for byte";
    // The empty key would be the catalog's header.
    EXPECT_EQ(Tr(""), "");
    EXPECT_EQ(Tr(nullptr), "");
}

TEST_F(TranslateTest, RegionalCodesFallBackToTheirLanguage) {
    ASSERT_TRUE(UseLanguage("de_AT"));
    EXPECT_EQ(CurrentLanguage(), "de_AT");
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");

    ASSERT_TRUE(UseLanguage("de_DE.UTF-8@euro"));
    EXPECT_EQ(CurrentLanguage(), "de_DE");
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");

    // "zh" alone has no catalog here: only zh_CN does.
    EXPECT_FALSE(UseLanguage("zh"));
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");
}

TEST_F(TranslateTest, RegionBeatsLanguageAndEarlierFolderBeatsLater) {
    // Real catalogs under other names, so that the text tells which file was taken.
    test::TTempDir first, second;
    CopyBuiltCatalog("de", first.Path(), "de");
    CopyBuiltCatalog("zh_CN", second.Path(), "de_AT");
    CopyBuiltCatalog("zh_CN", second.Path(), "de");
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

TEST_F(TranslateTest, UnknownLanguagesShowTheKeys) {
    EXPECT_FALSE(UseLanguage("xx"));
    EXPECT_EQ(CurrentLanguage(), "xx");
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");
    EXPECT_EQ(Tr("银行四舍五入"), "银行四舍五入");

    // A code is never a path: this must not reach the catalog of de.
    EXPECT_FALSE(UseLanguage("x/../de"));
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");

    // Without an English catalog English shows the keys too.
    test::TTempDir empty;
    SetCatalogFolders({empty.Path()});
    EXPECT_FALSE(UseLanguage("en"));
    EXPECT_EQ(Tr("银行四舍五入"), "银行四舍五入");
}

TEST_F(TranslateTest, CLocaleNamesAndTheEmptyCodeChooseTheirLanguage) {
    TEnvironment environment;
    ASSERT_TRUE(UseLanguage("C"));
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(Tr("银行四舍五入"), "Banker's rounding");
    ASSERT_TRUE(UseLanguage("POSIX"));
    EXPECT_EQ(CurrentLanguage(), "en");

    environment.Set("LANG", "zh_CN.UTF-8");
    ASSERT_TRUE(UseLanguage(""));
    EXPECT_EQ(CurrentLanguage(), "zh_CN");
    EXPECT_EQ(Tr("Local Drives"), "本地驱动器");
}

TEST_F(TranslateTest, DefaultLanguageComesFromTheEnvironment) {
    TEnvironment environment;
    EXPECT_EQ(DefaultLanguage(), "en") << "nothing set";

    environment.Set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(DefaultLanguage(), "de_DE");
    environment.Set("LC_MESSAGES", "fr_FR.ISO-8859-1");
    EXPECT_EQ(DefaultLanguage(), "fr_FR");
    environment.Set("LC_ALL", "sr_RS@latin");
    EXPECT_EQ(DefaultLanguage(), "sr_RS");
    environment.Set("LANGUAGE", "pt_BR:de");
    EXPECT_EQ(DefaultLanguage(), "pt_BR");
    environment.Set("LANGUAGE", ":nl:de");
    EXPECT_EQ(DefaultLanguage(), "nl") << "empty entries are skipped";
    environment.Set("LANGUAGE", "");
    EXPECT_EQ(DefaultLanguage(), "sr_RS") << "an empty LANGUAGE counts as unset";

    environment.Set("LC_ALL", "C");
    EXPECT_EQ(DefaultLanguage(), "en");
    environment.Set("LC_ALL", "C.UTF-8");
    EXPECT_EQ(DefaultLanguage(), "en");
    environment.Unset("LC_ALL");
    environment.Set("LC_MESSAGES", "POSIX");
    EXPECT_EQ(DefaultLanguage(), "en");
    environment.Unset("LC_MESSAGES");
    EXPECT_EQ(DefaultLanguage(), "de_DE");
    environment.Unset("LANG");
    EXPECT_EQ(DefaultLanguage(), "en");
}

TEST_F(TranslateTest, CatalogFoldersAndInstalledLanguages) {
    SetCatalogFolders({});
    const std::vector<std::string> folders = GetCatalogFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], BuiltCatalogFolder()) << "beside the executable comes first";
    EXPECT_TRUE(folders[1].ends_with("/share/quorvel/locale")) << folders[1];
    // The program finds the build's catalogs without any help.
    ASSERT_TRUE(UseLanguage("de"));
    EXPECT_EQ(Tr("Grouped Files"), "Gruppierte Dateien");

    const std::vector<std::string> built = GetInstalledLanguages();
    for (const char* code : {"de", "en", "zh_CN"})
        EXPECT_NE(std::find(built.begin(), built.end(), code), built.end()) << code;
    EXPECT_TRUE(std::is_sorted(built.begin(), built.end()));

    // Only folders holding the catalog of the domain count; a code in two folders once.
    test::TTempDir one, two;
    CopyBuiltCatalog("de", one.Path(), "de");
    CopyBuiltCatalog("de", one.Path(), "fr");
    CopyBuiltCatalog("de", two.Path(), "de");
    CopyBuiltCatalog("de", two.Path(), "it");
    one.MkDir("es/LC_MESSAGES");
    one.File("nl/LC_MESSAGES/other.mo", 100);
    one.File("pl", 10);
    one.MkDir("ru/LC_MESSAGES/default.mo");
    SetCatalogFolders({one.Path(), two.Path() + "/", one.Path() + "/missing"});
    EXPECT_EQ(GetInstalledLanguages(), (std::vector<std::string>{"de", "fr", "it"}));
}

TEST_F(TranslateTest, DamagedCatalogsAreIgnored) {
    const std::string good = ReadBytes(BuiltCatalogPath("de"));
    ASSERT_GE(good.size(), 28u);
    const std::uint32_t count = WordAt(good, 8);
    const std::uint32_t keys = WordAt(good, 12);
    const std::uint32_t values = WordAt(good, 16);
    ASSERT_GT(WordAt(good, 20), 2u) << "msgfmt writes a hash table";

    std::string garbage(4096, '\0');
    std::mt19937 random(42);
    for (char& c : garbage)
        c = char(random());
    std::string garbageWithMagic = garbage;
    SetWordAt(garbageWithMagic, 0, 0x950412de);
    std::string smallHash = good; // its look-up would divide by the hash size minus 2
    SetWordAt(smallHash, 20, 2);
    std::string keyOutside = good;
    SetWordAt(keyOutside, keys + 8 * (count - 1) + 4, std::uint32_t(good.size()) + 100);
    std::string valueOutside = good;
    SetWordAt(valueOutside, values + 4, std::uint32_t(good.size()) - 2);
    std::string unterminated = good;
    SetWordAt(unterminated, keys + 8, WordAt(good, keys + 8) + 1);
    std::string tablesOutside = good;
    SetWordAt(tablesOutside, 8, 0x10000000);
    std::string hashOutside = good;
    SetWordAt(hashOutside, 24, std::uint32_t(good.size()) - 8);
    std::string newRevision = good;
    SetWordAt(newRevision, 4, 0x00020000);

    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty file", ""},
        {"garbage", garbage},
        {"garbage behind the magic number", garbageWithMagic},
        {"too short", good.substr(0, 20)},
        {"truncated to half", good.substr(0, good.size() / 2)},
        {"truncated by one byte", good.substr(0, good.size() - 1)},
        {"hash size 2", smallHash},
        {"key beyond the end", keyOutside},
        {"value beyond the end", valueOutside},
        {"key without its NUL", unterminated},
        {"string tables beyond the end", tablesOutside},
        {"hash table beyond the end", hashOutside},
        {"unknown revision", newRevision},
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
    CopyBuiltCatalog("de", folder.Path(), "de");
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
                          {"Gr\xf6\xdf"
                           "e",
                           "Taille"}}));
    ASSERT_TRUE(UseLanguage("fr"));
    EXPECT_EQ(Tr("Grouped Files"), "Fichiers group\u00e9s");
    EXPECT_EQ(Tr("Gr\u00f6\u00dfe"), "Taille");

    // An empty translation is no translation.
    WriteCatalog(folder.Path(), "it", MoImage({{"", Utf8Header}, {"Grouped Files", ""}}));
    ASSERT_TRUE(UseLanguage("it"));
    EXPECT_EQ(Tr("Grouped Files"), "Grouped Files");
}

TEST_F(TranslateTest, ThreadsTranslateWhileTheLanguageChanges) {
    const std::set<std::string> groupTexts = {"Gruppierte Dateien", "分组的文件", "Grouped Files"};
    const std::set<std::string> roundingTexts = {"Mathematisches Runden", "银行家舍入",
                                                 "Banker's rounding", "银行四舍五入"};
    const std::set<std::string> languages = {"de", "zh_CN", "en", "xx"};
    std::atomic<bool> done = false;
    std::atomic<int> wrong = 0;
    std::atomic<int> started = 0;
    std::atomic<long> calls = 0;

    UseLanguage("de");
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            ++started;
            while (!done) {
                if (!groupTexts.contains(Tr("Grouped Files")) ||
                    !roundingTexts.contains(Tr("银行四舍五入")) ||
                    !languages.contains(CurrentLanguage()))
                    ++wrong;
                ++calls;
            }
        });
    }
    while (started < 4)
        std::this_thread::yield();
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const char* code = i % 4 == 0 ? "de" : i % 4 == 1 ? "zh_CN" : i % 4 == 2 ? "en" : "xx";
        // The folder list is swapped along the way too; both lists hold the same catalogs.
        SetCatalogFolders(i % 2 == 0 ? std::vector<std::string>{}
                                     : std::vector<std::string>{BuiltCatalogFolder()});
        EXPECT_EQ(UseLanguage(code), i % 4 != 3) << code;
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
    EXPECT_EQ(LanguageName("de"), "German");
    EXPECT_EQ(LanguageName("de_AT"), "German");
    EXPECT_EQ(LanguageName("en_GB"), "British English");
    EXPECT_EQ(LanguageName("en_NZ"), "English");
    EXPECT_EQ(LanguageName("fr_BE"), "Walloon");
    EXPECT_EQ(LanguageName("nl_BE"), "Flemish");
    EXPECT_EQ(LanguageName("nd"), "Ndebele, North");
    EXPECT_EQ(LanguageName("zh_CN"), "Chinese");
    EXPECT_EQ(LanguageName("xx"), "");
    EXPECT_EQ(LanguageName("xx_GB"), "");
    EXPECT_EQ(LanguageName("d"), "");
    EXPECT_EQ(LanguageName(""), "");
    // Only longer codes are looked up whole: "en_" is not an entry, "en" is.
    EXPECT_EQ(LanguageName("en_"), "English");

    EXPECT_EQ(LanguageDisplayText("de"), "German [de]");
    EXPECT_EQ(LanguageDisplayText("en_GB"), "British English [en_GB]");
    EXPECT_EQ(LanguageDisplayText("zh_CN"), "Chinese [zh_CN]");
    EXPECT_EQ(LanguageDisplayText("xx"), " [xx]");
    EXPECT_EQ(LanguageBaseDisplayText("de_AT"), "German [de]");
    EXPECT_EQ(LanguageBaseDisplayText("en_GB"), "English [en]");
    EXPECT_EQ(LanguageBaseDisplayText("de"), "German [de]");

    EXPECT_EQ(LanguageCodeOfText("German [de]"), "de");
    EXPECT_EQ(LanguageCodeOfText("British English [en_GB]"), "en_GB");
    EXPECT_EQ(LanguageCodeOfText(" [xx]"), "xx");
    EXPECT_EQ(LanguageCodeOfText("[]"), "");
    EXPECT_EQ(LanguageCodeOfText("German"), "");
    EXPECT_EQ(LanguageCodeOfText("German [de"), "");
    EXPECT_EQ(LanguageCodeOfText("A [b] [c]"), "b");
    for (const TLanguageEntry& entry : LanguageTable())
        EXPECT_EQ(LanguageCodeOfText(LanguageDisplayText(entry.Code)), entry.Code);
}

class LanguageListTest : public ::testing::Test {
protected:
    void TearDown() override { SetCatalogFolders({}); }
    TEnvironment Environment;
};

TEST_F(LanguageListTest, ListsTheBuiltCatalogsSorted) {
    SetCatalogFolders({BuiltCatalogFolder()});
    const std::vector<std::string> list = GetLanguageList();
    for (const char* text : {"English [en]", "German [de]", "Chinese [zh_CN]"})
        EXPECT_EQ(std::count(list.begin(), list.end(), text), 1) << text;
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
}

TEST_F(LanguageListTest, AddsEnglishAndSortsByDisplayText) {
    test::TTempDir folder;
    CopyBuiltCatalog("de", folder.Path(), "de");
    CopyBuiltCatalog("de", folder.Path(), "fr");
    SetCatalogFolders({folder.Path()});
    const std::vector<std::string> expected = {"English [en]", "French [fr]", "German [de]"};
    EXPECT_EQ(GetLanguageList(), expected);

    // A locale the system lacks sorts like the C locale.
    Environment.Set("LC_ALL", "xx_YY.UTF-8");
    EXPECT_EQ(GetLanguageList(), expected);
    Environment.Set("LC_ALL", "C.UTF-8");
    EXPECT_EQ(GetLanguageList(), expected);

    // A code without a name shows as a blank and its code, and so sorts first.
    CopyBuiltCatalog("de", folder.Path(), "xx");
    CopyBuiltCatalog("de", folder.Path(), "ii");
    EXPECT_EQ(GetLanguageList(), (std::vector<std::string>{" [xx]", "English [en]", "French [fr]",
                                                           "German [de]", "Sichuan Yi [ii]"}));

    test::TTempDir empty;
    SetCatalogFolders({empty.Path()});
    EXPECT_EQ(GetLanguageList(), std::vector<std::string>{"English [en]"});
}

} // namespace
} // namespace qv
