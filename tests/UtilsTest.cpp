// Small utilities: paths on hostile input, the version note read back from real files,
// sets, rectangles and boolean words as the settings store them.

#include "TestTree.h"
#include "support/FileVersion.h"
#include "support/QvUtils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <set>

namespace qv {
namespace {

using test::TTempDir;
using TList = std::vector<std::string>;

TEST(UtilsTest, PathsOnHostileInput) {
    // "/a" is a character prefix of "/ab", not a component prefix; of duplicates the later
    // one goes; trailing slashes, case, empties and the root.
    const std::pair<TList, TList> nested[] = {
        {{"/a", "/a/b", "/ab"}, {"/a", "/ab"}},
        {{"/x/", "", "/X", "/x", "/x/y/z", "/xy", "/x/../q"}, {"/x/", "/X", "/xy"}},
        {{"/home/u", "/", "/etc"}, {"/"}},
        {{"", ""}, {}}};
    for (const auto& [in, out] : nested) {
        TList list = in;
        EXPECT_EQ(RemoveNestedPaths(list), int(in.size() - out.size()));
        EXPECT_EQ(list, out);
    }

    const std::pair<const char*, const char*> names[] = {
        {"a:b??c.", "a_b_c"},
        {"  /home/user/My Files  ", "_home_user_My Files"},
        {"a\nb\tc\x7f", "a_b_c\x7f"},
        {"..", ""},
        {"...", ""},
        {"", ""},
        {"\\\\server\\share", "_server_share"}};
    for (const auto& [in, out] : names)
        EXPECT_EQ(SanitizeFileName(in, '_'), out) << in;
    EXPECT_EQ(SanitizeFileName("日本語:テスト", '_'), "日本語_テスト"); // UTF-8 bytes stay
    EXPECT_EQ(SanitizeFileName("a<>|b", '\0'), "ab");
    EXPECT_EQ(SanitizeFileName("x.y.", '_', "."), "x_y");

    std::string s = "a-b-c";
    RemoveChars(s, "-c");
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(AddPathDelimiter(""), "");
    EXPECT_EQ(AddPathDelimiter("/"), "/");
    EXPECT_EQ(AddPathDelimiter("/a"), "/a/");

    TTempDir t;
    EXPECT_FALSE(IsDriveRoot(t.Path()));
    EXPECT_FALSE(IsDriveRoot(""));
    EXPECT_FALSE(IsDriveRoot("C:"));
    EXPECT_EQ(IsDriveRoot("/"), IsDriveRoot("///"));
}

TEST(UtilsTest, FoldersFollowTheXdgVariables) {
    TTempDir t;
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string savedConfig = oldConfig ? oldConfig : "";

    ::setenv("HOME", t.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (t / "cfg").c_str(), 1);
    t.MkDir("cfg");
    std::ofstream(t / "cfg/user-dirs.dirs") << "# written by a test\n"
                                            << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                            << "XDG_MUSIC_DIR=\"/srv/music\"\n";
    EXPECT_EQ(GetAppDataFolder(), t / "cfg/");
    EXPECT_EQ(GetShellFolderPath(sfPersonal), t / "Dokumente/");
    EXPECT_EQ(GetShellFolderPath(sfMusic), "/srv/music/");
    EXPECT_EQ(GetShellFolderPath(sfPictures), t / "Pictures/");
    EXPECT_EQ(GetShellFolderPath(sfProfile), t.Path() + "/");
    EXPECT_EQ(GetShellFolderPath(999), "");
    // The documents folder does not exist: the save dialog starts at home instead.
    EXPECT_EQ(GetPersonalFolder(), t.Path() + "/");
    t.MkDir("Dokumente");
    EXPECT_EQ(GetPersonalFolder(), t / "Dokumente/");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(GetAppDataFolder(), t / ".config/");

    ::setenv("HOME", savedHome.c_str(), 1);
    if (oldConfig)
        ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(UtilsTest, VersionIsReadFromTheExecutable) {
    // This test program carries the build's version note, like quorvel itself.
    const std::string self = ExecutableFileName();
    const std::string version = GetFileVersion(self);
    ASSERT_EQ(SplitString(version, ".").size(), 4u) << version;
    EXPECT_TRUE(VersionText(self).starts_with("Version ")) << VersionText(self);

    TTempDir t;
    // A stripped copy keeps the note: it is found through the program headers.
    ASSERT_EQ(std::system(("strip -o '" + t / "stripped" + "' '" + self + "'").c_str()), 0);
    EXPECT_EQ(GetFileVersion(t / "stripped"), version);

    // Truncated copies never read past their end: a cut before the note's end finds
    // nothing, a cut after it still finds the note.
    std::ifstream in(self, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    int found = 0;
    for (std::size_t length = 0; length < 4096 && length < bytes.size(); length += 37) {
        std::ofstream(t / "cut", std::ios::binary).write(bytes.data(), std::streamsize(length));
        const std::string cut = GetFileVersion(t / "cut");
        EXPECT_TRUE(cut.empty() || cut == version) << length;
        EXPECT_TRUE(length >= 64 || cut.empty()) << length;
        found += !cut.empty();
    }
    EXPECT_GT(found, 0);
    // Program headers that point outside the file.
    std::memset(bytes.data() + 32, 0x7f, 8); // e_phoff far beyond the end
    std::ofstream(t / "broken", std::ios::binary).write(bytes.data(), 4096);
    EXPECT_EQ(GetFileVersion(t / "broken"), "");
    std::ofstream(t / "text") << "#!/bin/sh\necho not elf\n";
    EXPECT_EQ(GetFileVersion(t / "text"), "");
    EXPECT_EQ(VersionText(t / "text"), "");
    EXPECT_EQ(GetFileVersion(t / "missing"), "");
    EXPECT_EQ(GetFileVersion(t.Path()), "");  // a directory
    EXPECT_EQ(GetFileVersion("/bin/sh"), ""); // an ELF file without our note
}

TEST(UtilsTest, StringsAndRectangles) {
    EXPECT_EQ(SplitString(",a,,b c,", ", "), (TList{"a", "b", "c"}));
    EXPECT_TRUE(SplitString("", ",").empty());

    std::string rest = "12,34,end";
    std::string token;
    NextToken(rest, ",", token);
    EXPECT_EQ(token + "|" + rest, "12|34,end");
    rest = "last";
    NextToken(rest, ",", token);
    EXPECT_EQ(token + "|" + rest, "last|");

    EXPECT_EQ(ExtractBetween("German [de]", "[", "]"), "de");
    for (const char* none : {"[]", "no marks", "[open"})
        EXPECT_EQ(ExtractBetween(none, "[", "]"), "") << none;

    const std::string random = RandomString(4000);
    ASSERT_EQ(random.size(), 4000u);
    const std::set<char> seen(random.begin(), random.end());
    EXPECT_EQ(seen.size(), 36u); // every letter and digit turns up in 4000 draws
    for (char c : seen)
        EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << c;

    const TRect r{-10, 20, 300, 400};
    EXPECT_EQ(RectToStr(r), "-10,20,300,400");
    EXPECT_EQ(StrToRect(RectToStr(r), {}), r);
    const TRect fallback{1, 2, 3, 4};
    for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,x,4", "1,,3,4", "99999999999,1,2,3"})
        EXPECT_EQ(StrToRect(bad, fallback), fallback) << bad;
    EXPECT_EQ(StrToRect(" 1, 2 ,3,4 ", {}), (TRect{1, 2, 3, 4}));
    EXPECT_EQ(CenteredRect(101, 51, 1920, 1080), (TRect{909, 514, 1010, 565}));
    EXPECT_EQ(CenteredRect(801, 600, 640, 480), (TRect{-80, -60, 721, 540}));
}

TEST(UtilsTest, CenteredRectHoldsForExtremeSizes) {
    // A screen of negative size (as a broken display reports it) and sizes up to the ends
    // of int: the differences overflow an int, the exact results never do.
    constexpr int Max = std::numeric_limits<int>::max();
    constexpr int Min = std::numeric_limits<int>::min();
    EXPECT_EQ(CenteredRect(Max, Max, -2, -3),
              (TRect{-1073741824, -1073741825, Max / 2, Max / 2 - 1}));
    EXPECT_EQ(CenteredRect(Max, 10, Min, Min), (TRect{-Max, Min / 2 - 5, 0, Min / 2 + 5}));
    EXPECT_EQ(CenteredRect(Min, Min, Max, 0), (TRect{Max, Max / 2 + 1, -1, Min / 2}));
    const int sizes[] = {Min, Min + 1, -1, 0, 1, 1920, Max - 1, Max};
    for (int width : sizes)
        for (int screen : sizes) {
            const TRect r = CenteredRect(width, 1, screen, 1);
            EXPECT_EQ(std::int64_t(r.Right) - r.Left, width) << width << " on " << screen;
            EXPECT_EQ(r.Left, (std::int64_t(screen) - width) / 2) << width << " on " << screen;
        }
}

TEST(UtilsTest, SetsAndBooleanWordsAsTheSettingsWriteThem) {
    static constexpr const char* Names[] = {"poOne", "poTwo", "poThree"};
    const TSetType type{Names, 1};
    EXPECT_EQ(SetToString(type, 0b101, true), "[poOne,poThree]");
    EXPECT_EQ(SetToString(type, 0b101, false), "poOne,poThree");
    EXPECT_EQ(SetToString(type, 0, true), "[]");
    EXPECT_EQ(SetToString(type, 0x100, false), ""); // beyond the set's one byte

    EXPECT_EQ(StringToSet(type, "[poOne,poThree]"), 0b101u);
    EXPECT_EQ(StringToSet(type, "  [ potwo ,  POONE ]"), 0b011u);
    EXPECT_EQ(StringToSet(type, "poTwo"), 0b010u);
    for (const char* none : {"[poOne, bogus]", "x", "", "[]"})
        EXPECT_EQ(StringToSet(type, none), 0u) << none;

    const std::pair<const char*, bool> words[] = {
        {"wahr", true}, {"FALSCH", false}, {" True ", true}, {"0", false}, {"-1", true}};
    for (const auto& [word, expected] : words) {
        bool value = !expected;
        EXPECT_TRUE(TryStrToBool(word, value) && value == expected) << word;
    }
    bool value = false;
    EXPECT_FALSE(TryStrToBool("yes", value));
    EXPECT_FALSE(TryStrToBool("", value));
    EXPECT_STREQ(BoolToStr(true), "True");
    EXPECT_STREQ(BoolToStr(false), "False");
}

} // namespace
} // namespace qv
