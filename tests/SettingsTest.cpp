// The settings store against real files: hand-written ini files of every shape, writes that
// must keep each other byte, folders that cannot be written, the preferences with their
// defaults and parsing rules, the window's sections, and the registry of bar styles that
// the settings name.

#include "TestTree.h"
#include "settings/BarChartPainterRegistry.h"
#include "settings/QvIniFile.h"
#include "settings/QvSettings.h"
#include "support/Translate.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <locale.h>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::RunUnprivileged;
using test::TTempDir;

void WriteBytes(const std::string& Path, const std::string& Bytes) {
    fs::create_directories(fs::path(Path).parent_path());
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), std::streamsize(Bytes.size()));
    ASSERT_TRUE(out.good()) << Path;
}

std::string ReadBytes(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Leftovers of writes that went wrong: temporary files are hidden and end in ".tmp".
std::vector<std::string> TempFilesIn(const std::string& Dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(Dir)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".") && name.ends_with(".tmp"))
            found.push_back(name);
    }
    return found;
}

struct stat StatOf(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
    return st;
}

// Sets environment variables for one test and puts the old values back afterwards.
class TEnvGuard {
public:
    ~TEnvGuard() {
        for (auto it = Saved.rbegin(); it != Saved.rend(); ++it)
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                       : ::unsetenv(it->first.c_str());
    }
    void Set(const std::string& Name, const std::optional<std::string>& Value) {
        const char* old = std::getenv(Name.c_str());
        Saved.emplace_back(Name, old ? std::optional<std::string>(old) : std::nullopt);
        Value ? ::setenv(Name.c_str(), Value->c_str(), 1) : ::unsetenv(Name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// ===== the ini file ======================================================================

class IniFileTest : public ::testing::Test {
protected:
    TTempDir T;
    std::string Path = T / "Quorvel.ini";
};

TEST_F(IniFileTest, ReadsHandWrittenFilesWithOddSpacing) {
    WriteBytes(Path, "\xEF\xBB\xBF  [ Settings ]  ; the preferences\n  Language   =  de_AT  \t\n"
                     "Empty=\nBlank =   \n; Commented=1\n   # Hashed=1\n"
                     "Mixed=MiXeD CaSe  with  inner  blanks\nQuoted=\"/a b\",\"/c\"\n"
                     "Tricky = a=b ; c # d\n[Other]\nlanguage=fr\nNumber = +42 \nNegative=-7\n"
                     "Big=99999999999\nHex=0x10\nTrailing=12abc\n");
    const TQvIniFile ini(Path);
    // The byte order mark does not hide the first header; names ignore ASCII case; a present
    // empty value is not a missing one; comments are no keys; values keep their case, inner
    // blanks, quotes, "=" and ";".
    const struct {
        const char *Section, *Key, *Value;
    } reads[] = {{"settings", "LANGUAGE", "de_AT"},
                 {" Settings ", " Language ", "de_AT"},
                 {"Other", "Language", "fr"},
                 {"Settings", "Empty", ""},
                 {"Settings", "Blank", ""},
                 {"Settings", "Commented", "dflt"},
                 {"Settings", "; Commented", "dflt"},
                 {"Settings", "Hashed", "dflt"},
                 {"Settings", "Mixed", "MiXeD CaSe  with  inner  blanks"},
                 {"Settings", "Quoted", "\"/a b\",\"/c\""},
                 {"Settings", "Tricky", "a=b ; c # d"},
                 {"Nowhere", "Language", "dflt"},
                 {"Settings", "Nothing", "dflt"}};
    for (const auto& r : reads)
        EXPECT_EQ(ini.ReadString(r.Section, r.Key, "dflt"), r.Value) << r.Section << "/" << r.Key;
    EXPECT_TRUE(ini.ValueExists("Settings", "empty"));
    EXPECT_FALSE(ini.ValueExists("Nowhere", "Language"));
    EXPECT_TRUE(ini.SectionExists("OTHER"));
    EXPECT_FALSE(ini.SectionExists("Oth"));
    EXPECT_EQ(ini.ReadSection("settings"), (std::vector<std::string>{"Language", "Empty", "Blank",
                                                                     "Mixed", "Quoted", "Tricky"}));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Settings", "Other"}));

    // Integers: optional sign and blanks; out of range, hex, trailing junk or empty: default.
    EXPECT_EQ(ini.ReadInteger("Other", "Number", 0), 42);
    EXPECT_EQ(ini.ReadInteger("Other", "Negative", 0), -7);
    EXPECT_EQ(ini.ReadInt64("Other", "Big", 5), 99999999999);
    for (const char* key : {"Big", "Hex", "Trailing", "Missing"})
        EXPECT_EQ(ini.ReadInteger("Other", key, 5), 5) << key;
    EXPECT_EQ(ini.ReadInteger("Settings", "Empty", 5), 5);
    EXPECT_EQ(ini.ReadInt64("Settings", "Language", -1), -1);
}

TEST_F(IniFileTest, FilesThatCannotBeReadGiveDefaults) {
    // Missing file, a directory, a FIFO (which must not block the reader), keys above any
    // section header and a header without its bracket.
    const TQvIniFile missing(T / "none/Quorvel.ini");
    EXPECT_EQ(missing.ReadString("Settings", "Language", "d"), "d");
    EXPECT_FALSE(missing.SectionExists("Settings"));
    EXPECT_TRUE(missing.ReadSection("Settings").empty());
    EXPECT_TRUE(missing.ReadSections().empty());

    T.MkDir("dir.ini");
    const TQvIniFile directory(T / "dir.ini");
    EXPECT_EQ(directory.ReadInteger("Settings", "A", 3), 3);

    T.Fifo("fifo.ini");
    TQvIniFile fifo(T / "fifo.ini");
    EXPECT_EQ(fifo.ReadString("Settings", "A", "d"), "d");
    EXPECT_THROW(fifo.WriteString("Settings", "A", "1"), ESettingsError);
    EXPECT_TRUE(fs::is_fifo(T / "fifo.ini"));

    WriteBytes(Path, "Orphan=1\n[Broken\nKey=2\n[]\nLost=3\n[Settings]\nKey=4\n");
    const TQvIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("", "Orphan", "d"), "d");
    EXPECT_EQ(ini.ReadString("Broken", "Key", "d"), "2");
    EXPECT_EQ(ini.ReadString("Settings", "Key", "d"), "4");
    EXPECT_EQ(ini.ReadString("Settings", "Lost", "d"), "d");
}

TEST_F(IniFileTest, WritesKeepEveryOtherByte) {
    const std::string original = "; Quorvel settings, edited by hand\norphan=before any section\n"
                                 "\n[Settings]\n  GroupFileSize =  4096   \n# a comment inside\n"
                                 "Unknown=Keep Me\nthis line has no equals sign \x01\x02\n"
                                 "\n[1280x1024]\nPosition=1,2,3,4\n";
    WriteBytes(Path, original);
    TQvIniFile ini(Path);
    ini.WriteString("settings", "GROUPFILESIZE", "8192");
    ini.WriteString("Settings", "NewKey", "v");
    ini.WriteString(" Fresh ", " K ", "1");
    EXPECT_EQ(ReadBytes(Path), "; Quorvel settings, edited by hand\norphan=before any section\n"
                               "\n[Settings]\n  GroupFileSize =  8192\n# a comment inside\n"
                               "Unknown=Keep Me\nNewKey=v\nthis line has no equals sign \x01\x02\n"
                               "\n[1280x1024]\nPosition=1,2,3,4\n\n[Fresh]\nK=1\n");
    EXPECT_EQ(ini.ReadString("Settings", "GroupFileSize", ""), "8192");
    EXPECT_EQ(ini.ReadString("Settings", "Unknown", ""), "Keep Me");
    EXPECT_TRUE(TempFilesIn(T.Path()).empty());

    // An empty section, a file without a final line end, and a file of its own.
    WriteBytes(Path, "[Empty]\n[Next]\nX=1");
    ini.WriteString("Empty", "K", "v");
    ini.WriteString("Next", "Y", "2");
    EXPECT_EQ(ReadBytes(Path), "[Empty]\nK=v\n[Next]\nX=1\nY=2");
    ini.WriteString("Last", "Z", "3");
    EXPECT_EQ(ReadBytes(Path), "[Empty]\nK=v\n[Next]\nX=1\nY=2\n\n[Last]\nZ=3\n");
    WriteBytes(Path, "[S]");
    ini.WriteString("S", "A", "1");
    EXPECT_EQ(ReadBytes(Path), "[S]\nA=1");

    TQvIniFile fresh(T / "new/fresh.ini");
    T.MkDir("new");
    fresh.WriteInteger("Settings", "SortColumn", -2);
    fresh.WriteInt64("Settings", "GroupFileSize", 5000000000);
    EXPECT_EQ(ReadBytes(T / "new/fresh.ini"),
              "[Settings]\nSortColumn=-2\nGroupFileSize=5000000000\n");

    // CRLF line ends stay CRLF, also on the lines a write adds.
    WriteBytes(Path, "[Settings]\r\nA = 1\r\n\r\n[Other]\r\nB=2\r\n");
    EXPECT_EQ(ini.ReadString("Settings", "A", ""), "1");
    EXPECT_EQ(ini.ReadString("Other", "B", ""), "2");
    ini.WriteString("Settings", "A", "10");
    ini.WriteString("Settings", "C", "3");
    ini.WriteString("New", "D", "4");
    EXPECT_EQ(ReadBytes(Path),
              "[Settings]\r\nA = 10\r\nC=3\r\n\r\n[Other]\r\nB=2\r\n\r\n[New]\r\nD=4\r\n");

    // Writing a value the file already holds leaves the file itself alone.
    const ino_t before = StatOf(Path).st_ino;
    ini.WriteString("other", "b", "2");
    EXPECT_EQ(StatOf(Path).st_ino, before);
    ini.WriteString("Other", "B", "3");
    EXPECT_NE(StatOf(Path).st_ino, before);
}

TEST_F(IniFileTest, DuplicateKeysAndSectionsReadTheFirst) {
    WriteBytes(Path, "[S]\nK=first\nk=second\n[T]\nX=1\n[s]\nK=third\nOnly=here\n");
    TQvIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("S", "K", ""), "first");
    EXPECT_EQ(ini.ReadString("S", "Only", ""), "here");
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"K", "Only"}));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"S", "T"}));

    ini.WriteString("S", "K", "new");
    ini.WriteString("s", "Added", "1");
    EXPECT_EQ(ReadBytes(Path),
              "[S]\nK=new\nk=second\nAdded=1\n[T]\nX=1\n[s]\nK=third\nOnly=here\n");
    EXPECT_EQ(ini.ReadString("S", "K", ""), "new");

    // Deleting a key takes every copy, so that no older value surfaces.
    ini.DeleteKey("S", "K");
    EXPECT_EQ(ReadBytes(Path), "[S]\nAdded=1\n[T]\nX=1\n[s]\nOnly=here\n");
    EXPECT_FALSE(ini.ValueExists("S", "K"));
    ini.DeleteKey("S", "Missing"); // nothing to do
    ini.DeleteKey("Missing", "X");
    EXPECT_EQ(ReadBytes(Path), "[S]\nAdded=1\n[T]\nX=1\n[s]\nOnly=here\n");

    ini.EraseSection("s");
    EXPECT_EQ(ReadBytes(Path), "[T]\nX=1\n");
    EXPECT_FALSE(ini.SectionExists("S"));
    ini.EraseSection("T");
    EXPECT_EQ(ReadBytes(Path), "");
    EXPECT_TRUE(fs::exists(Path));
}

TEST_F(IniFileTest, LongLinesAndBinaryGarbageNeverCostOtherLines) {
    // A 1 MB value and a 1 MB line of garbage before the section.
    const std::string longValue(1 << 20, 'x');
    std::string garbage(1 << 20, '\0');
    std::mt19937 random(4711);
    for (char& c : garbage) {
        c = char(random() & 0xFF);
        if (c == '\n')
            c = '\0';
    }
    WriteBytes(Path, garbage + "\n[Settings]\nLong=" + longValue + "\nShort=1\n");
    TQvIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("Settings", "Long", ""), longValue);
    EXPECT_EQ(ini.ReadInteger("Settings", "Short", 0), 1);
    ini.WriteString("Settings", "Short", "2");
    EXPECT_EQ(ReadBytes(Path), garbage + "\n[Settings]\nLong=" + longValue + "\nShort=2\n");

    // Random bytes of every kind, line ends included: reading gives defaults or whatever
    // the garbage happens to say, and a write adds its section after all of it.
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 bytes(seed);
        std::string noise(bytes() % 5000, '\0');
        for (char& c : noise) {
            const unsigned pick = bytes() % 16;
            c = pick == 0   ? '\n'
                : pick == 1 ? '['
                : pick == 2 ? '='
                : pick == 3 ? '\r'
                            : char(bytes());
        }
        WriteBytes(Path, noise);
        EXPECT_EQ(ini.ReadString("QvNoiseSection", "Key", "d"), "d");
        (void)ini.ReadSections();
        ini.WriteString("QvNoiseSection", "Key", "Value");
        const std::string written = ReadBytes(Path);
        ASSERT_TRUE(written.starts_with(noise)) << "seed " << seed;
        EXPECT_EQ(ini.ReadString("QvNoiseSection", "Key", "d"), "Value") << "seed " << seed;
    }
}

TEST_F(IniFileTest, RefusesWhatALineCannotHold) {
    WriteBytes(Path, "[S]\nA=1\n");
    TQvIniFile ini(Path);
    const std::pair<const char*, const char*> names[] = {
        {"S", "A=B"}, {"S", ""},   {"S", "  "}, {"S", ";A"},   {"S", "#A"},
        {"S", "[A"},  {"S]", "A"}, {"", "A"},   {"S\nT", "A"}, {"S", "A\nB"}};
    for (const auto& [section, key] : names)
        EXPECT_THROW(ini.WriteString(section, key, "1"), ESettingsError) << section << "/" << key;
    for (const char* value : {"two\nlines", "cr\r"})
        EXPECT_THROW(ini.WriteString("S", "A", value), ESettingsError) << value;
    EXPECT_EQ(ReadBytes(Path), "[S]\nA=1\n");
    // What does fit: other bytes, NULs and non-ASCII text in values and names.
    const std::string value("na\0me \xE6\x96\x87 \xFF", 11);
    ini.WriteString("Sección", "Schlüssel", value);
    EXPECT_EQ(ini.ReadString("Sección", "Schlüssel", ""), value);
    EXPECT_EQ(ini.ReadString("SECCIóN", "SCHLüSSEL", ""), value); // ASCII letters only fold
    EXPECT_EQ(ini.ReadString("SECCIÓN", "Schlüssel", "d"), "d");
}

TEST_F(IniFileTest, EveryValueReadsBackAsWrittenAndWritingItAgainChangesNothing) {
    // Blanks at the ends of a value would be trimmed away on reading and, in place, pile up
    // before it on each write; such values, and values that look like them quoted, go in
    // single quotes. Hand-written values read as before.
    WriteBytes(Path, "[S]\nHand =   spaced  out \t\nFavs=\"/a b \",\"/c\"\nQ=''\n");
    TQvIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("S", "Hand", ""), "spaced  out");
    EXPECT_EQ(ini.ReadString("S", "Favs", ""), "\"/a b \",\"/c\"");
    EXPECT_EQ(ini.ReadString("S", "Q", ""), "''");
    ini.WriteString("S", "Hand", " v");
    ini.WriteString("S", "New", "' x '");
    EXPECT_EQ(ReadBytes(Path), "[S]\nHand =   ' v'\nFavs=\"/a b \",\"/c\"\nQ=''\nNew='' x ''\n");
    for (const std::string value :
         {" v", "v ", "\t v \v", " ", "' x '", "''' x '''", "'", "''", "'x'", "' '", "'' ''", "x"})
        for (const char* key : {"Hand", "New", "Fresh"}) {
            ini.WriteString("S", key, value);
            const std::string once = ReadBytes(Path);
            EXPECT_EQ(ini.ReadString("S", key, "d"), value) << key << "=[" << value << "]";
            ini.WriteString("S", key, value);
            EXPECT_EQ(ReadBytes(Path), once) << key << "=[" << value << "]";
        }
}

TEST_F(IniFileTest, FilesBeyondFourMiBAreNeitherReadNorWritten) {
    // At the limit the file is read and written (blank lines, which used to cost a record
    // each, included); a write that would pass the limit is refused.
    const std::string head = "[S]\nA=1\n";
    WriteBytes(Path, head + std::string(TQvIniFile::MaxFileSize - head.size(), '\n'));
    TQvIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("S", "A", "d"), "1");
    EXPECT_TRUE(ini.Read().Refusal().empty());
    ini.WriteString("S", "A", "2");
    EXPECT_THROW(ini.WriteString("S", "A", "10"), ESettingsError);
    EXPECT_EQ(ini.ReadString("S", "A", "d"), "2");

    // One byte more, or a sparse file far larger than memory (which must never be read):
    // defaults, a message naming the file, and no write of any kind touches it.
    for (const off_t size : {off_t(TQvIniFile::MaxFileSize + 1), off_t(20) << 30}) {
        ASSERT_EQ(::truncate(Path.c_str(), size), 0);
        const struct stat before = StatOf(Path);
        ASSERT_EQ(ini.ReadString("S", "A", "d"), "d") << size;
        const std::string refusal = ini.Read().Refusal();
        EXPECT_NE(refusal.find(Path), std::string::npos) << refusal;
        TSettings settings(Path);
        settings.SetGroupFileSize(5);
        EXPECT_THROW(settings.Load(), ESettingsError);
        EXPECT_EQ(settings.GroupFileSize(), 5);
        try {
            settings.Save();
            ADD_FAILURE() << "saved";
        } catch (const ESettingsError& e) {
            EXPECT_EQ(e.what(), refusal);
        }
        EXPECT_THROW(ini.WriteString("T", "B", "1"), ESettingsError);
        EXPECT_THROW(ini.DeleteKey("S", "A"), ESettingsError);
        EXPECT_THROW(ini.EraseSection("S"), ESettingsError);
        const struct stat after = StatOf(Path);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, size);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        std::ifstream in(Path, std::ios::binary);
        std::string start(8, '\0');
        in.read(start.data(), 8);
        EXPECT_EQ(start, "[S]\nA=2\n");
    }

    // A read takes the file as it is then; what Read() returned keeps its version.
    WriteBytes(Path, "[S]\nA=1\n");
    const TQvIniSnapshot old = ini.Read();
    WriteBytes(Path, "[S]\nA=2\n");
    EXPECT_EQ(old.ReadString("S", "A", "d"), "1");
    EXPECT_EQ(ini.ReadString("S", "A", "d"), "2");
}

TEST_F(IniFileTest, WritesReplaceTheFileInOneStep) {
    WriteBytes(Path, "[S]\nA=1\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
    TQvIniFile ini(Path);
    const ino_t before = StatOf(Path).st_ino;
    ini.WriteString("S", "A", "2");
    EXPECT_NE(StatOf(Path).st_ino, before); // renamed over, not rewritten in place
    EXPECT_EQ(StatOf(Path).st_mode & 07777, 0640u);
    EXPECT_TRUE(TempFilesIn(T.Path()).empty());

    // A linked settings file stays linked; its target gets the change.
    WriteBytes(T / "dotfiles/real.ini", "[S]\nA=1\n");
    ASSERT_EQ(::symlink((T / "dotfiles/real.ini").c_str(), (T / "link.ini").c_str()), 0);
    TQvIniFile linked(T / "link.ini");
    linked.WriteString("S", "A", "3");
    EXPECT_TRUE(fs::is_symlink(T / "link.ini"));
    EXPECT_EQ(ReadBytes(T / "dotfiles/real.ini"), "[S]\nA=3\n");
    EXPECT_TRUE(TempFilesIn(T / "dotfiles").empty());

    // A vanished folder: nothing to read, nothing to write into.
    T.MkDir("gone");
    TQvIniFile vanished(T / "gone/Quorvel.ini");
    vanished.WriteString("S", "A", "1");
    test::RemoveTree(T / "gone");
    EXPECT_EQ(vanished.ReadString("S", "A", "d"), "d");
    EXPECT_THROW(vanished.WriteString("S", "A", "2"), ESettingsError);
    EXPECT_FALSE(fs::exists(T / "gone"));
}

TEST_F(IniFileTest, FailedWritesLeaveTheOldFileIntact) {
    // Permission bits only stop an unprivileged user: the writes run as one.
    const std::string content = "; keep\n[S]\nA=1\n";
    T.MkDir("ro");
    WriteBytes(T / "ro/Quorvel.ini", content);
    T.Chmod("ro/Quorvel.ini", 0666);
    T.Chmod("ro", 0555); // the file is writable, but no file can be made beside it
    T.MkDir("rw");
    T.Chmod("rw", 0777);
    WriteBytes(T / "rw/readonly.ini", content);
    T.Chmod("rw/readonly.ini", 0444); // a user who froze the settings
    WriteBytes(T / "rw/unreadable.ini", content);
    T.Chmod("rw/unreadable.ini", 0222); // a write would lose lines it cannot see

    const auto attempt = [&](const std::string& File, bool ExpectReadable) {
        return RunUnprivileged([&] {
            TQvIniFile ini(File);
            if (ini.ReadString("S", "A", "d") != (ExpectReadable ? "1" : "d"))
                return 2;
            try {
                ini.WriteString("S", "A", "2");
            } catch (const ESettingsError& e) {
                return std::string(e.what()).find(File) != std::string::npos ? 0 : 3;
            }
            return 1;
        });
    };
    EXPECT_EQ(attempt(T / "ro/Quorvel.ini", true), 0);
    EXPECT_EQ(attempt(T / "rw/readonly.ini", true), 0);
    EXPECT_EQ(attempt(T / "rw/unreadable.ini", false), 0);

    T.Chmod("ro", 0755);
    EXPECT_EQ(ReadBytes(T / "ro/Quorvel.ini"), content);
    EXPECT_EQ(ReadBytes(T / "rw/readonly.ini"), content);
    EXPECT_EQ(ReadBytes(T / "rw/unreadable.ini"), content);
    EXPECT_TRUE(TempFilesIn(T / "ro").empty());
    EXPECT_TRUE(TempFilesIn(T / "rw").empty());
}

// ===== the registry of bar styles ========================================================

TEST(PainterRegistryTest, ProgramRegistryHoldsTheNineStylesInOrder) {
    const TQvBarChartPainterRegistry& registry = BarChartPainterRegistry();
    EXPECT_EQ(&registry, &BarChartPainterRegistry());
    const TBarChartPainterClass* const expected[] = {&TQuorvelOneBarChartPainterClass,
                                                     &TSkinCairoHelixClass,
                                                     &TSkinCrystalClass,
                                                     &TSkinChromeRedClass,
                                                     &TSkinBlackIceClass,
                                                     &TSkinTrueBlueClass,
                                                     &TSkinBronceAgeClass,
                                                     &TSkinCenterCourtClass,
                                                     &TSkinSpectrumClass};
    ASSERT_EQ(registry.Count(), 9);
    for (int i = 0; i < registry.Count(); ++i)
        EXPECT_EQ(registry.Items(i), expected[i]) << i;
    EXPECT_THROW((void)registry.Items(9), std::out_of_range);
    EXPECT_THROW((void)registry.Items(-1), std::out_of_range);
    EXPECT_EQ(registry.GetNames(false),
              (std::vector<std::string>{"Quorvel Classic", "Cairo Helix", "Crystal", "Chrome Red",
                                        "Black Ice", "True Blue", "Bronze Age", "Center Court",
                                        "Spectrum"}));
    EXPECT_EQ(registry.GetNames(true),
              (std::vector<std::string>{"Black Ice", "Bronze Age", "Cairo Helix", "Center Court",
                                        "Chrome Red", "Crystal", "Quorvel Classic", "Spectrum",
                                        "True Blue"}));

    // Display names with case, class names without.
    EXPECT_EQ(registry.IndexOfName("Spectrum"), 8);
    EXPECT_EQ(registry.IndexOfName("spectrum"), -1);
    EXPECT_EQ(registry.FindByName("Crystal"), &TSkinCrystalClass);
    EXPECT_EQ(registry.FindByName("crystal"), nullptr);
    EXPECT_EQ(registry.FindByName("Cairo Helix"), &TSkinCairoHelixClass);
    EXPECT_EQ(registry.FindByClassName("tskincrystal"), &TSkinCrystalClass);
    EXPECT_EQ(registry.FindByClassName("TSKINBRONCEAGE"), &TSkinBronceAgeClass);
    for (const char* name : {"TDefaultBarChartPainter", "TSkinCrystal ", ""})
        EXPECT_EQ(registry.FindByClassName(name), nullptr) << name;
    // The default style shares the look and the name of Cairo Helix, not the class.
    EXPECT_STREQ(TDefaultBarChartPainterClass.Name, TSkinCairoHelixClass.Name);

    // A display name registers once; the program's registry is full already.
    TQvBarChartPainterRegistry own;
    EXPECT_TRUE(own.GetNames(true).empty());
    own.Register(&TSkinCairoHelixClass);
    try {
        own.Register(&TDefaultBarChartPainterClass);
        ADD_FAILURE() << "no assertion error";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Cairo Helix ist bereits registriert!");
    }
    EXPECT_THROW(own.Register(&TSkinCairoHelixClass), EAssertionFailed);
    EXPECT_THROW(own.Register(nullptr), EAssertionFailed);
    EXPECT_EQ(own.Count(), 1);
    EXPECT_THROW(BarChartPainterRegistry().Register(&TSkinSpectrumClass), EAssertionFailed);
    EXPECT_EQ(BarChartPainterRegistry().Count(), 9);
}

TEST(PainterRegistryTest, SortedNamesFollowTheLocaleWithoutCase) {
    static const TBarChartPainterClass beta{"TBeta", "beta"}, alpha{"TAlpha", "Alpha"},
        alpha2{"TAlpha2", "alpha2"}, gamma{"TGamma", "Gamma"}, umlautB{"TUmlautB", "\xC3\x84\x62"},
        umlautA{"TUmlautA", "\xC3\xA4\x61"}; // "Äb" and "äa"
    TQvBarChartPainterRegistry registry;
    for (const TBarChartPainterClass* c : {&beta, &gamma, &alpha2, &alpha})
        registry.Register(c);

    TEnvGuard env;
    env.Set("LC_ALL", "C");
    EXPECT_EQ(registry.GetNames(true),
              (std::vector<std::string>{"Alpha", "alpha2", "beta", "Gamma"}));
    EXPECT_LT(CompareTextLocale("a", "B"), 0);
    EXPECT_EQ(CompareTextLocale("ABC", "abc"), 0);

    // With a UTF-8 locale, letters beyond ASCII fold too: "äa" before "Äb", which byte
    // order would put the other way round.
    env.Set("LC_ALL", "C.UTF-8");
    const locale_t utf8 = ::newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr));
    if (utf8 == locale_t(nullptr))
        GTEST_SKIP() << "no C.UTF-8 locale";
    ::freelocale(utf8);
    registry.Register(&umlautB);
    registry.Register(&umlautA);
    EXPECT_EQ(registry.GetNames(true), (std::vector<std::string>{"Alpha", "alpha2", "beta", "Gamma",
                                                                 umlautA.Name, umlautB.Name}));
    EXPECT_EQ(registry.GetNames(false)[4], umlautB.Name);
    // A name that is not valid UTF-8 still sorts, by its bytes.
    EXPECT_GT(CompareTextLocale("\xFF", "A"), 0);
    // An unknown locale in the environment falls back to the ASCII order without case.
    env.Set("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_LT(CompareTextLocale("a", "B"), 0);
    EXPECT_EQ(CompareTextLocale("Crystal", "cRYSTAL"), 0);
}

// ===== the settings ======================================================================

class SettingsTest : public ::testing::Test {
protected:
    TTempDir T;
    TEnvGuard Env;

    void SetUp() override {
        Env.Set("HOME", T / "home");
        Env.Set("XDG_CONFIG_HOME", T / "config");
        ResetAppSettings();
        SetScreenSize(1280, 1024);
    }
    void TearDown() override {
        ResetAppSettings();
        SetScreenSize(0, 0);
    }

    std::string Folder() const { return T / "config/Quorvel"; }
    std::string IniPath() const { return T / "config/Quorvel/Quorvel.ini"; }

    // A fresh object that loaded IniPath() holding Content.
    std::unique_ptr<TSettings> LoadFrom(const std::string& Content) {
        WriteBytes(IniPath(), Content);
        auto settings = std::make_unique<TSettings>(IniPath());
        settings->Load();
        return settings;
    }
};

// The seven keys Save writes, with the values of a fresh user and line ends Eol.
std::string SavedDefaults(const std::string& Language, const std::string& Eol = "\n") {
    const std::string lines = "GroupSmallFiles=1\nGroupFileSize=1048576\nLanguage=" + Language +
                              "\nTreeViewRefreshRate=250\nPaintOptions=[poDrawChildPercentBars]\n"
                              "FileSizeRounding=2\nBarChartPainterClass=TDefaultBarChartPainter\n";
    std::string text;
    for (const char c : lines)
        c == '\n' ? text += Eol : text += c;
    return text;
}

TEST_F(SettingsTest, AFreshUserEndsWithAllSevenPreferences) {
    ASSERT_FALSE(fs::exists(Folder()));
    TSettings settings;
    // The constructor makes the folder (private, with its missing parent) but not the file.
    EXPECT_TRUE(fs::is_directory(Folder()));
    EXPECT_EQ(StatOf(T / "config").st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(IniPath()));
    EXPECT_EQ(settings.IniFile().FileName(), IniPath());

    settings.Load();
    EXPECT_TRUE(HasPaintOption(settings.PaintOptions(), poDrawChildPercentBars));
    EXPECT_EQ(settings.BarChartPainterClass(), &TDefaultBarChartPainterClass);
    EXPECT_FALSE(settings.RescanNeeded());
    EXPECT_FALSE(settings.CrossFileSystems());
    EXPECT_TRUE(settings.CountHardLinksOnce());
    EXPECT_FALSE(settings.Language().empty());
    settings.Save();
    EXPECT_EQ(ReadBytes(IniPath()), "[Settings]\n" + SavedDefaults(settings.Language()));
    // Saving again changes nothing.
    settings.Save();
    EXPECT_EQ(ReadBytes(IniPath()), "[Settings]\n" + SavedDefaults(settings.Language()));
}

TEST_F(SettingsTest, LanguageDefaultsToTheCatalogLanguageInEffect) {
    // Before the translation set-up chose one: the language it is going to choose, English
    // for a language without a catalog.
    Env.Set("LANGUAGE", "fr_CA");
    if (CurrentLanguage().empty()) {
        EXPECT_EQ(TSettings(IniPath()).Language(), "en");
    }
    TTempDir noCatalogs;
    SetCatalogFolders({noCatalogs.Path()});
    UseLanguage("pt_BR");
    EXPECT_EQ(TSettings(IniPath()).Language(), "pt_BR");
    SetCatalogFolders({});
}

TEST_F(SettingsTest, IniFileNameFollowsXdgConfigHome) {
    // Missing parents are created.
    Env.Set("XDG_CONFIG_HOME", T / "deep/er/config");
    EXPECT_EQ(TSettings::GetIniFileName(), T / "deep/er/config/Quorvel/Quorvel.ini");
    EXPECT_TRUE(fs::is_directory(T / "deep/er/config/Quorvel"));
    // Unset, or relative (which the XDG rules call invalid): below the home folder.
    Env.Set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(TSettings::GetIniFileName(), T / "home/.config/Quorvel/Quorvel.ini");
    Env.Set("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(TSettings::GetIniFileName(), T / "home/.config/Quorvel/Quorvel.ini");
    EXPECT_FALSE(fs::exists("relative"));

    // A file where a folder must go: the user is told which folder failed.
    WriteBytes(T / "blocked", "a file");
    Env.Set("XDG_CONFIG_HOME", T / "blocked/config");
    std::string expected = Tr("无法创建应用程序数据目录“%s”。");
    expected.replace(expected.find("%s"), 2, T / "blocked/config/Quorvel");
    try {
        (void)TSettings::GetIniFileName();
        ADD_FAILURE() << "no error";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(e.what(), expected);
    }
    EXPECT_THROW(TSettings settings, ESettingsError);
    EXPECT_THROW((void)AppSettings(), ESettingsError);
    // Once the folder can be made, the next call succeeds.
    Env.Set("XDG_CONFIG_HOME", T / "config");
    EXPECT_EQ(AppSettings().IniFile().FileName(), IniPath());
}

TEST_F(SettingsTest, LoadParsesEachPreference) {
    auto s = LoadFrom("[Settings]\nGroupSmallFiles = 2\nGroupFileSize=abc\nLanguage = de_AT \n"
                      "TreeViewRefreshRate=100\nPaintOptions=[]\nFileSizeRounding=7\n"
                      "BarChartPainterClass=tskinspectrum\nCrossFileSystems=1\nScanThreads=3\n"
                      "CountHardLinksOnce=0\n");
    EXPECT_TRUE(s->GroupSmallFiles());
    EXPECT_EQ(s->GroupFileSize(), 1048576);
    EXPECT_EQ(s->Language(), "de_AT");
    EXPECT_EQ(s->TreeViewRefreshRate(), 100);
    EXPECT_EQ(s->PaintOptions(), TQvPaintOptions(0));
    EXPECT_EQ(s->FileSizeRounding(), fsrRoundDown); // how styles beyond 0..2 format
    EXPECT_EQ(s->BarChartPainterClass(), &TSkinSpectrumClass);
    EXPECT_TRUE(s->CrossFileSystems());
    EXPECT_EQ(s->ScanThreads(), 3);
    EXPECT_FALSE(s->CountHardLinksOnce());
    EXPECT_FALSE(s->RescanNeeded());

    s = LoadFrom("[Settings]\nGroupSmallFiles=0\nGroupFileSize= 4096 \nPaintOptions=[poBogus]\n"
                 "FileSizeRounding=1\nBarChartPainterClass=TSkinCrystal\nCrossFileSystems=0\n"
                 "ScanThreads=-2\n");
    EXPECT_FALSE(s->GroupSmallFiles());
    EXPECT_EQ(s->GroupFileSize(), 4096);
    EXPECT_EQ(s->PaintOptions(), TQvPaintOptions(0)); // an unknown name empties the set
    EXPECT_EQ(s->FileSizeRounding(), fsrBankersRounding);
    EXPECT_EQ(s->BarChartPainterClass(), &TSkinCrystalClass);
    EXPECT_FALSE(s->CrossFileSystems());
    EXPECT_EQ(s->ScanThreads(), 0); // automatic rather than a count that cannot be

    // Names of the set in any case, with blanks; values that do not parse keep what was.
    s = LoadFrom("[SETTINGS]\ngroupsmallfiles=maybe\nTreeViewRefreshRate=fast\n"
                 "PaintOptions= [ podrawchildpercentbars ] \nFileSizeRounding=x\n"
                 "BarChartPainterClass=TDefaultBarChartPainter\nCrossFileSystems=yes\n"
                 "CountHardLinksOnce=perhaps\n");
    EXPECT_TRUE(s->GroupSmallFiles());
    EXPECT_EQ(s->TreeViewRefreshRate(), 250);
    EXPECT_EQ(s->PaintOptions(), TQvPaintOptions(1));
    EXPECT_EQ(s->FileSizeRounding(), fsrRoundDown);
    EXPECT_EQ(s->BarChartPainterClass(), &TDefaultBarChartPainterClass);
    EXPECT_FALSE(s->CrossFileSystems());
    EXPECT_TRUE(s->CountHardLinksOnce());

    // Missing or empty keys keep the current values, also ones set before Load.
    WriteBytes(IniPath(), "[Settings]\nPaintOptions=\nLanguage=\n[Other]\nGroupFileSize=1\n");
    TSettings kept(IniPath());
    kept.SetBarChartPainterClass(&TSkinChromeRedClass);
    kept.SetGroupFileSize(777);
    kept.Load();
    EXPECT_EQ(kept.BarChartPainterClass(), &TSkinChromeRedClass);
    EXPECT_EQ(kept.GroupFileSize(), 777);
    EXPECT_EQ(kept.PaintOptions(), TQvPaintOptions(1));
    EXPECT_EQ(kept.Language(), ""); // present, though empty

    // No style outside 0..2 may pass for fsrNone (byte counts), the low byte of 256
    // included; the callers take fsrNone at its word.
    for (const char* style : {"-1", "3", "255", "256", "-256", "99999999999"}) {
        s = LoadFrom("[Settings]\nFileSizeRounding=" + std::string(style) + "\n");
        EXPECT_EQ(s->FileSizeRounding(), fsrRoundDown) << style;
    }
    kept.SetFileSizeRounding(-1);
    EXPECT_EQ(kept.FileSizeRounding(), fsrRoundDown);
    kept.SetFileSizeRounding(fsrNone);
    EXPECT_EQ(kept.FileSizeRounding(), fsrNone);
}

TEST_F(SettingsTest, SaveKeepsCommentsUnknownKeysOtherSectionsAndLineEnds) {
    auto s =
        LoadFrom("# my settings\r\n[Settings]\r\n; the window's keys, untouched\r\n"
                 "MRUDirList=\"/home/u/My Files\",/srv\r\nGroupFileSize = 4096 ; no comment\r\n"
                 "BarChartPainterClass = TSkinFromTheFuture\r\nCrossFileSystems=1\r\n"
                 "FutureOption=keep\r\n\r\n[1280x1024]\r\nPosition=1,2,3,4\r\n");
    EXPECT_EQ(s->GroupFileSize(), 1048576); // "4096 ; no comment" is no number
    // An unknown painter class is the default one, and is saved back as such.
    EXPECT_EQ(s->BarChartPainterClass(), &TDefaultBarChartPainterClass);
    s->SetGroupFileSize(8192);
    s->Save();
    std::string saved = SavedDefaults(s->Language(), "\r\n");
    saved.erase(0, saved.find("Language="));
    saved.erase(saved.find("BarChartPainterClass="));
    EXPECT_EQ(ReadBytes(IniPath()),
              "# my settings\r\n[Settings]\r\n; the window's keys, untouched\r\n"
              "MRUDirList=\"/home/u/My Files\",/srv\r\nGroupFileSize = 8192\r\n"
              "BarChartPainterClass = TDefaultBarChartPainter\r\nCrossFileSystems=1\r\n"
              "FutureOption=keep\r\nGroupSmallFiles=1\r\n" +
                  saved + "\r\n[1280x1024]\r\nPosition=1,2,3,4\r\n");
}

TEST_F(SettingsTest, SettersMarkARescanOnlyForScanPreferences) {
    TSettings s;
    s.SetGroupFileSize(1048576);
    s.SetGroupSmallFiles(true);
    s.SetLanguage("de");
    s.SetFileSizeRounding(fsrBankersRounding);
    s.SetBarChartPainterClass(&TSkinTrueBlueClass);
    s.SetPaintOption(poDrawChildPercentBars, false);
    EXPECT_FALSE(s.RescanNeeded());
    s.SetGroupFileSize(4096);
    EXPECT_TRUE(s.RescanNeeded());
    s.ClearRescanNeeded();
    EXPECT_FALSE(s.RescanNeeded());
    s.SetGroupSmallFiles(false);
    EXPECT_TRUE(s.RescanNeeded());
    s.ClearRescanNeeded();
    s.SetGroupSmallFiles(false);
    EXPECT_FALSE(s.RescanNeeded());

    // Eight options fit; the ninth and beyond are ignored.
    s.SetPaintOption(TQvPaintOption(7), true);
    s.SetPaintOption(TQvPaintOption(8), true);
    s.SetPaintOption(TQvPaintOption(200), true);
    EXPECT_EQ(s.PaintOptions(), TQvPaintOptions(0x80));
    s.SetPaintOption(TQvPaintOption(7), false);
    s.SetPaintOption(poDrawChildPercentBars, true);
    s.SetPaintOption(poDrawChildPercentBars, true);
    EXPECT_EQ(s.PaintOptions(), TQvPaintOptions(1));
    EXPECT_FALSE(HasPaintOption(TQvPaintOptions(0xFE), poDrawChildPercentBars));
    s.SetBarChartPainterClass(nullptr);
    EXPECT_EQ(s.BarChartPainterClass(), &TDefaultBarChartPainterClass);

    // What Save writes, Load reads back.
    s.SetPaintOption(poDrawChildPercentBars, false);
    s.SetBarChartPainterClass(&TSkinBlackIceClass);
    s.SetFileSizeRounding(fsrNone);
    s.Save();
    EXPECT_EQ(s.ReadSettingString("PaintOptions", ""), "[]");
    TSettings again(IniPath());
    again.Load();
    EXPECT_EQ(again.PaintOptions(), TQvPaintOptions(0));
    EXPECT_EQ(again.BarChartPainterClass(), &TSkinBlackIceClass);
    EXPECT_EQ(again.FileSizeRounding(), fsrNone);
    EXPECT_FALSE(again.GroupSmallFiles());
    EXPECT_EQ(again.GroupFileSize(), 4096);
    EXPECT_EQ(again.Language(), "de");
}

TEST_F(SettingsTest, AssignAndCloneCopyThePreferences) {
    auto original =
        LoadFrom("[Settings]\nCrossFileSystems=1\nGroupFileSize=10\nCountHardLinksOnce=0\n");
    original->SetGroupFileSize(20);
    original->SetLanguage("zh_CN");
    original->SetBarChartPainterClass(&TSkinCenterCourtClass);
    original->SetFileSizeRounding(fsrNone);
    original->SetPaintOption(poDrawChildPercentBars, false);
    ASSERT_TRUE(original->RescanNeeded());

    const std::unique_ptr<TSettings> copy = original->Clone();
    EXPECT_NE(&copy->IniFile(), &original->IniFile());
    EXPECT_EQ(copy->IniFile().FileName(), original->IniFile().FileName());
    EXPECT_EQ(copy->GroupFileSize(), 20);
    EXPECT_EQ(copy->Language(), "zh_CN");
    EXPECT_EQ(copy->BarChartPainterClass(), &TSkinCenterCourtClass);
    EXPECT_EQ(copy->FileSizeRounding(), fsrNone);
    EXPECT_EQ(copy->PaintOptions(), TQvPaintOptions(0));
    EXPECT_TRUE(copy->RescanNeeded());
    EXPECT_TRUE(copy->CrossFileSystems());
    EXPECT_FALSE(copy->CountHardLinksOnce());
    // Counting links another way takes a new scan; the same way does not.
    copy->ClearRescanNeeded();
    copy->SetCountHardLinksOnce(false);
    EXPECT_FALSE(copy->RescanNeeded());
    copy->SetCountHardLinksOnce(true);
    EXPECT_TRUE(copy->RescanNeeded());
    copy->SetCountHardLinksOnce(false);

    // The dialog edits the copy; the original only changes on Assign.
    copy->ClearRescanNeeded();
    copy->SetLanguage("de");
    copy->SetPaintOption(poDrawChildPercentBars, true);
    EXPECT_EQ(original->Language(), "zh_CN");
    EXPECT_TRUE(original->RescanNeeded());
    original->Assign(*copy);
    EXPECT_EQ(original->Language(), "de");
    EXPECT_EQ(original->PaintOptions(), TQvPaintOptions(1));
    EXPECT_FALSE(original->RescanNeeded());
    original->Assign(*original);
    EXPECT_EQ(original->Language(), "de");

    // Assign keeps the file; and without a cache each object sees the other's writes.
    TSettings elsewhere(T / "elsewhere.ini");
    elsewhere.Assign(*original);
    EXPECT_EQ(elsewhere.IniFile().FileName(), T / "elsewhere.ini");
    EXPECT_EQ(elsewhere.GroupFileSize(), 20);
    copy->WriteSettingInteger("SortColumn", 3);
    EXPECT_EQ(original->ReadSettingInteger("SortColumn", 0), 3);
    EXPECT_EQ(elsewhere.ReadSettingInteger("SortColumn", 0), 0);
}

TEST_F(SettingsTest, WindowStateLivesInSettingsAndTheResolutionSection) {
    TSettings s;
    s.Load();
    EXPECT_EQ(s.ReadSettingString("MRUDirList", ""), "");
    EXPECT_EQ(s.ReadSettingInteger("SortColumn", 2), 2);
    s.WriteSettingString("MRUDirList", "\"/home/u/My Files\",/srv");
    s.WriteSettingInteger("SortColumn", 1);
    s.WriteSettingString("DirViewStyle", "flat");
    EXPECT_EQ(s.ReadSettingString("mrudirlist", ""), "\"/home/u/My Files\",/srv");
    EXPECT_EQ(s.ReadSettingInteger("SortColumn", 2), 1);
    EXPECT_EQ(s.ReadSettingInteger("DirViewStyle", 0), 0); // not a number
    EXPECT_EQ(s.ReadSectionString("Settings", "SortColumn", ""), "1");

    EXPECT_EQ(TSettings::ResolutionSection(), "1280x1024");
    EXPECT_EQ(s.ReadResolutionString("Position", "none"), "none");
    s.WriteResolutionString("Position", "290,262,990,762");
    EXPECT_EQ(s.ReadResolutionString("Position", "none"), "290,262,990,762");
    EXPECT_EQ(s.ReadSectionString("1280x1024", "Position", ""), "290,262,990,762");
    s.SetGroupFileSize(4096);
    s.Save();

    // Another screen: a fresh section for the window, the same preferences.
    SetScreenSize(1024, 768);
    TSettings other;
    other.Load();
    EXPECT_EQ(other.ReadResolutionString("Position", "none"), "none");
    EXPECT_EQ(other.GroupFileSize(), 4096);
    EXPECT_EQ(other.ReadSettingInteger("SortColumn", 2), 1);
    other.WriteResolutionString("Position", "1,2,3,4");
    EXPECT_EQ(other.IniFile().ReadSections(),
              (std::vector<std::string>{"Settings", "1280x1024", "1024x768"}));

    // A provider is asked at every use, until a fixed size replaces it.
    int width = 800;
    SetScreenSizeProvider([&] { return TScreenSize{width, 600}; });
    EXPECT_EQ(TSettings::ResolutionSection(), "800x600");
    width = 1920;
    EXPECT_EQ(TSettings::ResolutionSection(), "1920x600");
    EXPECT_EQ(other.ReadResolutionString("Position", "none"), "none");
    SetScreenSize(1280, 1024);
    EXPECT_EQ(other.ReadResolutionString("Position", "none"), "290,262,990,762");
}

TEST_F(SettingsTest, SaveFailsWithoutLosingTheOldFileOrTheValues) {
    // A settings folder that became read-only; only an unprivileged user is stopped by it.
    const std::string content = "; mine\n[Settings]\nGroupFileSize=4096\nUnknown=1\n";
    WriteBytes(IniPath(), content);
    T.Chmod("config/Quorvel/Quorvel.ini", 0666);
    T.Chmod("config", 0755);
    T.Chmod("config/Quorvel", 0555);
    const int status = RunUnprivileged([&] {
        TSettings s(IniPath());
        s.Load();
        if (s.GroupFileSize() != 4096)
            return 2;
        s.SetGroupFileSize(8192);
        try {
            s.Save();
        } catch (const ESettingsError&) {
            return s.GroupFileSize() == 8192 ? 0 : 3; // the values stay in memory
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
    T.Chmod("config/Quorvel", 0755);
    EXPECT_EQ(ReadBytes(IniPath()), content);
    EXPECT_TRUE(TempFilesIn(Folder()).empty());
}

TEST_F(SettingsTest, AppSettingsIsOneInstancePerProcess) {
    // Created once, also when many threads ask first at the same time.
    std::vector<std::thread> threads;
    std::vector<TSettings*> seen(8, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &AppSettings(); });
    for (std::thread& thread : threads)
        thread.join();
    for (TSettings* settings : seen)
        EXPECT_EQ(settings, &AppSettings());
    EXPECT_EQ(AppSettings().IniFile().FileName(), IniPath());
    // A copy's end leaves the instance alone.
    AppSettings().Clone().reset();
    EXPECT_EQ(&AppSettings(), seen[0]);

    // Replaced for a test, then made afresh from the environment.
    auto replacement = std::make_unique<TSettings>(T / "other.ini");
    TSettings* const replaced = replacement.get();
    ResetAppSettings(std::move(replacement));
    EXPECT_EQ(&AppSettings(), replaced);
    Env.Set("XDG_CONFIG_HOME", T / "config2");
    ResetAppSettings();
    EXPECT_EQ(AppSettings().IniFile().FileName(), T / "config2/Quorvel/Quorvel.ini");
}

TEST_F(SettingsTest, ScanThreadsReadWhileTheDialogApplies) {
    // The scan threads' three getters while the GUI thread loads, assigns and sets: every
    // value read is one that was stored, never a torn one (ThreadSanitizer also checks that
    // no read races).
    WriteBytes(IniPath(), "[Settings]\nGroupFileSize=4096\nGroupSmallFiles=0\n"
                          "CrossFileSystems=1\n");
    TSettings& settings = AppSettings();
    const std::unique_ptr<TSettings> dialog = settings.Clone();
    dialog->SetGroupFileSize(5000000000);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const TSettings& s = AppSettings();
            const std::int64_t size = s.GroupFileSize();
            if (size != 1048576 && size != 4096 && size != 5000000000)
                ++unexpected;
            (void)s.GroupSmallFiles();
            (void)s.CrossFileSystems();
        }
    });
    for (int i = 0; i < 200; ++i) {
        settings.Load();
        settings.Assign(*dialog);
        settings.SetGroupFileSize(1048576);
        settings.SetGroupSmallFiles(i % 2 == 0);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(unexpected.load(), 0);
    settings.Load();
    EXPECT_EQ(settings.GroupFileSize(), 4096);
    EXPECT_FALSE(settings.GroupSmallFiles());
    EXPECT_TRUE(settings.CrossFileSystems());
}

} // namespace
} // namespace qv
