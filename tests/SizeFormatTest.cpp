#include "view/SizeFormat.h"

#include "support/Translate.h"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

// glibc's newlocale (2.36) never frees its copy of LOCPATH, which only the tests of real
// locales below set; the program itself never sets LOCPATH. Read by LeakSanitizer when
// the tests run under it, ignored otherwise.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\n";
}

namespace qv {
namespace {

constexpr std::int64_t KB = 1024;
constexpr std::int64_t MB = KB * 1024;
constexpr std::int64_t GB = MB * 1024;
constexpr std::int64_t TB = GB * 1024;

// The two catalog keys, byte for byte, so that a key retyped with a look-alike character
// in the source fails here.
const char* const BankersKey = "\xE9\x93\xB6\xE8\xA1\x8C\xE5\x9B\x9B\xE8\x88\x8D\xE4\xBA\x94"
                               "\xE5\x85\xA5";
const char* const RoundDownKey = "\xE5\x90\x91\xE4\xB8\x8B\xE8\x88\x8D\xE5\x85\xA5\xEF\xBC\x88"
                                 "\xE7\xB1\xBB\xE4\xBC\xBC\xE8\xB5\x84\xE6\xBA\x90\xE7\xAE\xA1"
                                 "\xE7\x90\x86\xE5\x99\xA8\xEF\xBC\x89";

// Every test starts from known separators, whatever the environment of the test run, and
// leaves the ones it found.
class SizeFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        Saved = NumberSeparators();
        SetNumberSeparators(".", ",");
    }
    void TearDown() override { SetNumberSeparators(Saved); }

private:
    TNumberSeparators Saved;
};

struct TSizeCase {
    std::int64_t Size;
    const char* Bankers;
    const char* RoundDown;
};

void ExpectSizes(const std::vector<TSizeCase>& Cases) {
    for (const auto& Case : Cases) {
        EXPECT_EQ(FormatSizeBankers(Case.Size), Case.Bankers) << "size " << Case.Size;
        EXPECT_EQ(FormatSizeRoundDown(Case.Size), Case.RoundDown) << "size " << Case.Size;
    }
}

TEST_F(SizeFormatTest, UnitsDecimalsAndRoundingInBothStyles) {
    constexpr auto Max = std::numeric_limits<std::int64_t>::max();
    constexpr auto Min = std::numeric_limits<std::int64_t>::min();
    ExpectSizes({
        // Units, and two decimals below ten, one below a hundred, none above.
        {0, "0 Byte", "0 Byte"},
        {9, "9 Byte", "9 Byte"},
        {1023, "1023 Byte", "1023 Byte"},
        {KB, "1 KB", "1 KB"},
        {1536, "1.5 KB", "1.5 KB"},
        {3 * GB, "3 GB", "3 GB"},
        {7 * TB, "7 TB", "7 TB"},
        {512 * MB, "512 MB", "512 MB"},
        {1100, "1.07 KB", "1.07 KB"},          // 1.07421875
        {1126, "1.1 KB", "1.09 KB"},           // 1.099609375: rounds to a trailing zero
        {20 * KB + 300, "20.3 KB", "20.2 KB"}, // 20.29296875
        {150 * KB + 700, "151 KB", "150 KB"},  // 150.68359375
        {1000 * MB + 1, "1000 MB", "1000 MB"},
        // Decade borders: rounding up to 10 or 100 drops a decimal.
        {10234, "9.99 KB", "9.99 KB"}, // 9.994140625
        {10235, "10 KB", "9.99 KB"},   // 9.9951171875, past 9.995
        {10 * KB, "10 KB", "10 KB"},
        {102348, "99.9 KB", "99.9 KB"}, // 99.94921875
        {102349, "100 KB", "99.9 KB"},  // 99.9501953125, past 99.95
        {100 * KB, "100 KB", "100 KB"},
        {10 * TB - 1, "10 TB", "9.99 TB"},
        // Rounding up to the next unit keeps the unit.
        {1048063, "1023 KB", "1023 KB"}, // 1023.4990234375
        {1048064, "1024 KB", "1023 KB"}, // 1023.5 exactly: the even neighbour is 1024
        {1048575, "1024 KB", "1023 KB"},
        {MB, "1 MB", "1 MB"},
        {1024 * MB - 1, "1024 MB", "1023 MB"},
        // Exact ties after the division by the step: half away from zero would differ.
        {1152, "1.12 KB", "1.12 KB"},          // 1.125
        {1408, "1.38 KB", "1.37 KB"},          // 1.375
        {10496, "10.2 KB", "10.2 KB"},         // 10.25
        {11008, "10.8 KB", "10.7 KB"},         // 10.75
        {102912, "100 KB", "100 KB"},          // 100.5
        {103936, "102 KB", "101 KB"},          // 101.5
        {2049 * TB / 2, "1024 TB", "1024 TB"}, // 1024.5 TB
        {2051 * TB / 2, "1026 TB", "1025 TB"}, // 1025.5 TB
        // 1024 TB and more stay in TB; INT64_MAX becomes 2^63 as a double.
        {1024 * TB - 1, "1024 TB", "1023 TB"},
        {1024 * TB, "1024 TB", "1024 TB"},
        {5 * 1024 * TB, "5120 TB", "5120 TB"},
        {4099 * TB / 4, "1025 TB", "1024 TB"}, // 1024.75 TB
        {123456 * TB + 3 * TB / 4, "123457 TB", "123456 TB"},
        {Max, "8388608 TB", "8388608 TB"},
        // Negative sizes mirror their magnitude.
        {-1, "-1 Byte", "-1 Byte"},
        {-1408, "-1.38 KB", "-1.37 KB"},
        {-10235, "-10 KB", "-9.99 KB"},
        {-1048575, "-1024 KB", "-1023 KB"},
        {-4099 * TB / 4, "-1025 TB", "-1024 TB"},
        {Min, "-8388608 TB", "-8388608 TB"},
    });
}

TEST_F(SizeFormatTest, SeparatorsOfSizesPercentsAndNumbers) {
    // Sizes and percents use the decimal separator and never group.
    SetNumberSeparators(",", ".");
    ExpectSizes({{1536, "1,5 KB", "1,5 KB"},
                 {10235, "10 KB", "9,99 KB"},
                 {1023, "1023 Byte", "1023 Byte"},
                 {5 * 1024 * TB, "5120 TB", "5120 TB"}});
    EXPECT_EQ(FormatPercent(0.375), "37,5%");
    EXPECT_EQ(FormatPercent(1.0), "100%");
    EXPECT_EQ(FormatCount(1234567), "1.234.567");
    EXPECT_EQ(FormatNumber(9876543.21, 2), "9.876.543,21");
    // Separators of several bytes: Arabic, and narrow and plain no-break spaces.
    const std::string Arabic = "\xD9\xAB", Narrow = "\xE2\x80\xAF", NoBreak = "\xC2\xA0";
    SetNumberSeparators(Arabic, Narrow);
    EXPECT_EQ(FormatSizeBankers(1408), "1" + Arabic + "38 KB");
    EXPECT_EQ(FormatSizeRoundDown(1408), "1" + Arabic + "37 KB");
    EXPECT_EQ(FormatCount(1234567), "1" + Narrow + "234" + Narrow + "567");
    SetNumberSeparators(".", NoBreak);
    EXPECT_EQ(FormatCount(-20000), "-20" + NoBreak + "000");
    // No thousands separator means no grouping; an empty decimal separator would glue the
    // digits together and stands for ".".
    SetNumberSeparators("", "");
    EXPECT_EQ(FormatSizeBankers(1536), "1.5 KB");
    EXPECT_EQ(FormatCount(1234567), "1234567");
    const TNumberSeparators current = NumberSeparators();
    EXPECT_EQ(current.Decimal, ".");
    EXPECT_EQ(current.Thousands, "");
    EXPECT_EQ(current.Grouping, "\3");

    // The grouping of the locale: lakh and crore, one group only, groups of four.
    const struct {
        const char* Grouping;
        std::int32_t Count;
        const char* Text;
    } groupings[] = {
        {"\3\2", 123, "123"},
        {"\3\2", 1234, "1,234"},
        {"\3\2", 1234567, "12,34,567"},
        {"\3\2", 123456789, "12,34,56,789"},
        {"\3\x7F", 123456789, "123456,789"},
        {"\4", 123456789, "1,2345,6789"},
    };
    for (const auto& g : groupings) {
        SetNumberSeparators(TNumberSeparators{".", ",", g.Grouping});
        EXPECT_EQ(FormatCount(g.Count), g.Text);
    }
}

TEST_F(SizeFormatTest, StylesAndTheirNames) {
    EXPECT_EQ(SizeFormatterForStyle(fsrBankersRounding), &FormatSizeBankers);
    for (const int Style : {0, 2, 3, 7, 255, -1})
        EXPECT_EQ(SizeFormatterForStyle(Style), &FormatSizeRoundDown) << "style " << Style;
    EXPECT_EQ(FormatFreeSpace(&FormatSizeRoundDown, 10235), "9.99 KB " + Tr("free"));
    EXPECT_EQ(FormatFreeSpace(&FormatSizeBankers, 10235), "10 KB " + Tr("free"));
    EXPECT_EQ(FormatFreeSpace(&FormatSizeBankers, 0), "0 Byte " + Tr("free"));
    EXPECT_EQ(FormatFreeSpace(nullptr, 10235), "9.99 KB " + Tr("free"));

    EXPECT_EQ(RoundingStyleName(fsrBankersRounding), Tr(BankersKey));
    EXPECT_EQ(RoundingStyleName(fsrRoundDown), Tr(RoundDownKey));
    EXPECT_NE(RoundingStyleName(fsrBankersRounding), RoundingStyleName(fsrRoundDown));
    for (const int Style : {0, 3, 7, 255, -1})
        EXPECT_EQ(RoundingStyleName(Style), "") << "style " << Style;
    EXPECT_EQ(RoundingStyleFromName(Tr(BankersKey)), fsrBankersRounding);
    EXPECT_EQ(RoundingStyleFromName(Tr(RoundDownKey)), fsrRoundDown);
    // No match, a near match and the empty name of style 0 all give style 0.
    for (const std::string& Name : {std::string("Banker's rounding"), Tr(BankersKey) + " ",
                                    Tr(RoundDownKey).substr(3), std::string()})
        EXPECT_EQ(RoundingStyleFromName(Name), fsrNone) << Name;

    // The list holds the two offered styles in order, whatever it held before.
    std::vector<std::string> Names{"left over", "from before", "and more"};
    GetRoundingStyleNames(Names);
    EXPECT_EQ(Names, (std::vector<std::string>{Tr(BankersKey), Tr(RoundDownKey)}));
}

TEST_F(SizeFormatTest, PercentsCountsAndNumbersRoundToEven) {
    // Below half a tenth is zero, also for a tiny negative share, without a sign. Exact
    // binary ties at the second decimal (0.0025, 0.1225, ...) go to the even neighbour; 0.15
    // has no exact binary form, and the double below it is no tie.
    const std::pair<double, const char*> percents[] = {
        {1.0, "100%"},      {0.0, "0%"},        {0.123, "12.3%"},          {0.12345, "12.3%"},
        {0.375, "37.5%"},   {0.5, "50%"},       {0.999, "99.9%"},          {0.9996, "100%"},
        {1.0 / 3, "33.3%"}, {2.0 / 3, "66.7%"}, {12345.0 / 1234567, "1%"}, {0.0004, "0%"},
        {0.000499, "0%"},   {0.00051, "0.1%"},  {1.0 / 1e12, "0%"},        {-0.0001, "0%"},
        {-0.5, "-50%"},     {0.0005, "0%"},     {0.0025, "0.2%"},          {0.0075, "0.8%"},
        {0.1225, "12.2%"},  {0.1275, "12.8%"},  {0.0015, "0.1%"},
    };
    for (const auto& [ratio, text] : percents)
        EXPECT_EQ(FormatPercent(ratio), text) << ratio;

    constexpr auto IntMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto IntMin = std::numeric_limits<std::int32_t>::min();
    const std::pair<std::int32_t, const char*> counts[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {123456, "123,456"},
        {1234567, "1,234,567"},
        {IntMax, "2,147,483,647"},
        {-999, "-999"},
        {-1234, "-1,234"},
        {-123456, "-123,456"},
        {IntMin, "-2,147,483,648"},
    };
    for (const auto& [count, text] : counts)
        EXPECT_EQ(FormatCount(count), text) << count;

    EXPECT_EQ(FormatNumber(0, 2), "0.00");
    EXPECT_EQ(FormatNumber(1.5, 2), "1.50");
    EXPECT_EQ(FormatNumber(0.125, 2), "0.12"); // exact binary tie: to even
    EXPECT_EQ(FormatNumber(0.375, 2), "0.38");
    EXPECT_EQ(FormatNumber(1234567.891, 2), "1,234,567.89");
    EXPECT_EQ(FormatNumber(1234567, 0), "1,234,567");
    EXPECT_EQ(FormatNumber(2.5, 0), "2");
    EXPECT_EQ(FormatNumber(-1234.5, 1), "-1,234.5");
    EXPECT_EQ(FormatNumber(-0.001, 2), "0.00");
}

// A text width of one unit per byte: the widths are the lengths the test can count.
int ByteWidth(std::string_view Text) {
    return static_cast<int>(Text.size());
}

TEST(ShortenPathToWidth, WalksTheWholeShrinkingSequence) {
    // With no room at all every step but the last is measured once, in order, and the last
    // is the result; at every other width the result is the first step that fits. Hidden
    // directories are cut one at a time.
    const std::vector<std::vector<std::string>> sequences = {
        {"/home/user/Photos/2004/img.jpg", "/.../user/Photos/2004/img.jpg",
         "/.../Photos/2004/img.jpg", "/.../2004/img.jpg", "/.../img.jpg", ".../img.jpg", "img.jpg"},
        {"/.a/b/.c/f", "/.../b/.c/f", "/.../.c/f", "/.../f", ".../f", "f"},
        {"docs/notes/todo.txt", ".../notes/todo.txt", ".../todo.txt", "todo.txt"},
        {"/vmlinuz", "vmlinuz"}};
    for (const auto& Steps : sequences) {
        const std::string& Path = Steps.front();
        SCOPED_TRACE(Path);
        std::vector<std::string> Measured;
        const auto Recorder = [&Measured](std::string_view Text) {
            Measured.emplace_back(Text);
            return ByteWidth(Text);
        };
        EXPECT_EQ(ShortenPathToWidth(Path, Recorder, -1), Steps.back());
        EXPECT_EQ(Measured, std::vector<std::string>(Steps.begin(), Steps.end() - 1));
        for (int Width = ByteWidth(Path) + 2; Width >= 0; --Width) {
            const auto Fits = std::find_if(Steps.begin(), Steps.end(), [&](const std::string& S) {
                return ByteWidth(S) <= Width;
            });
            EXPECT_EQ(ShortenPathToWidth(Path, ByteWidth, Width),
                      Fits == Steps.end() ? Steps.back() : *Fits)
                << "width " << Width;
        }
    }
}

TEST(ShortenPathToWidth, FittingPathsBareNamesAndOddBytes) {
    const std::string Path = "/home/user/Photos/2004/img.jpg";
    EXPECT_EQ(ShortenPathToWidth(Path, ByteWidth, 300), Path);
    EXPECT_EQ(ShortenPathToWidth("a-rather-long-file-name.tar.gz", ByteWidth, 0),
              "a-rather-long-file-name.tar.gz");
    EXPECT_EQ(ShortenPathToWidth("", ByteWidth, 0), "");
    // Without a way to measure, nothing is known not to fit.
    EXPECT_EQ(ShortenPathToWidth(Path, TTextWidthFunc{}, 0), Path);
    // UTF-8 and a byte that is no UTF-8 at all: cuts happen only at "/".
    const std::string Odd = "/srv/\xE7\x85\xA7\xE7\x89\x87/x\xFFy/\xC3\xA9t\xC3\xA9.png";
    EXPECT_EQ(ShortenPathToWidth(Odd, ByteWidth, 20), "/.../x\xFFy/\xC3\xA9t\xC3\xA9.png");
    EXPECT_EQ(ShortenPathToWidth(Odd, ByteWidth, 0), "\xC3\xA9t\xC3\xA9.png");

    // One step at a time; of short hidden names only an ellipsis of an earlier step may be
    // dropped whole.
    const std::pair<const char*, const char*> cuts[] = {
        {"/", ""},
        {"/a/", "/.../"},
        {"/a/b/", "/.../b/"},
        {"/.../b/", "/.../"},
        {"/.../b/c/", "/.../c/"},
        {"/.config/b/", "/.../b/"},
        {"/.a/b/", "/.../b/"},
        {".ab/c/", ".../c/"},
        {"a/b/", ".../b/"},
        {".../b/", ".../"},
        {".../", ""},
        {"", ""},
    };
    for (const auto& [dir, cut] : cuts) {
        std::string Dir = dir;
        CutLeadingDirectory(Dir);
        EXPECT_EQ(Dir, cut) << dir;
    }
}

// Restores an environment variable when the test ends.
class TEnvGuard {
public:
    explicit TEnvGuard(const char* Name) : Name(Name) {
        if (const char* Value = std::getenv(Name)) {
            Old = Value;
        }
    }
    ~TEnvGuard() {
        if (Old) {
            setenv(Name, Old->c_str(), 1);
        } else {
            unsetenv(Name);
        }
    }
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
    const char* Name;
    std::optional<std::string> Old;
};

TEST(NumberSeparators, PlainLocalesAndMissingOnes) {
    for (const char* Name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        const auto Separators = ReadNumberSeparators(Name);
        EXPECT_EQ(Separators.Decimal, ".") << Name;
        EXPECT_EQ(Separators.Thousands, "") << Name;
        EXPECT_FALSE(Separators.Grouping.empty()) << Name;
    }
}

// Compiles real locales into a private folder (LOCPATH) so that the reading is checked
// against what the C library says, not against values the test made up.
class NumberSeparatorsOfRealLocales : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Folder = std::filesystem::temp_directory_path() /
                 ("qv-locales-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(Folder);
        for (const char* Name : {"de_DE", "en_IN"}) {
            const std::string Command = std::string("localedef -i ") + Name + " -f UTF-8 '" +
                                        (Folder / (std::string(Name) + ".UTF-8")).string() +
                                        "' >/dev/null 2>&1";
            if (std::system(Command.c_str()) != 0) {
                Available = false;
            }
        }
    }
    static void TearDownTestSuite() {
        std::error_code Ignored;
        std::filesystem::remove_all(Folder, Ignored);
    }
    void SetUp() override {
        if (!Available) {
            GTEST_SKIP() << "localedef or the locale sources are not installed";
        }
        setenv("LOCPATH", Folder.c_str(), 1);
    }

    static inline std::filesystem::path Folder;
    static inline bool Available = true;
    TEnvGuard LocPath{"LOCPATH"};
    TEnvGuard LcAll{"LC_ALL"};
};

TEST_F(NumberSeparatorsOfRealLocales, NamedAndEnvironmentLocales) {
    const auto German = ReadNumberSeparators("de_DE.UTF-8");
    EXPECT_EQ(German.Decimal, ",");
    EXPECT_EQ(German.Thousands, ".");
    EXPECT_EQ(German.Grouping.front(), '\3');
    const auto Indian = ReadNumberSeparators("en_IN.UTF-8");
    EXPECT_EQ(Indian.Decimal, ".");
    EXPECT_EQ(Indian.Thousands, ",");
    EXPECT_EQ(Indian.Grouping, "\3\2");

    // The environment's locale is read without touching the global one.
    const std::string GlobalBefore = std::setlocale(LC_NUMERIC, nullptr);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    const auto FromEnvironment = ReadNumberSeparators("");
    EXPECT_EQ(FromEnvironment.Decimal, ",");
    EXPECT_EQ(FromEnvironment.Thousands, ".");
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), GlobalBefore);
    const auto Saved = NumberSeparators();
    SetNumberSeparators(FromEnvironment);
    EXPECT_EQ(FormatSizeRoundDown(10235), "9,99 KB");
    EXPECT_EQ(FormatCount(1234567), "1.234.567");
    SetNumberSeparators(Saved);
}

} // namespace
} // namespace qv
