// The favourites list and its comma text, as the settings file keeps it.

#include "shell/MRUDirList.h"

#include "TestTree.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(MRUDirListTest, NewestLastBoundedAndOneEventPerChange) {
    TMRUDirList list;
    int events = 0;
    list.OnChange = [&] { ++events; };
    EXPECT_EQ(list.MaxCount(), 9);
    for (int i = 0; i < 12; ++i)
        list.AddDir("/d" + std::to_string(i) + "/");
    EXPECT_EQ(events, 12);
    ASSERT_EQ(list.Count(), 9);
    EXPECT_EQ(list[0], "/d3");
    EXPECT_EQ(list[8], "/d11");

    list.AddDir("/d5"); // moves to the end, nothing dropped
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list[8], "/d5");
    EXPECT_EQ(list[2], "/d6");
    list.AddDir("/D5"); // names differ in case: two entries
    EXPECT_EQ(list[8], "/D5");
    EXPECT_EQ(list[0], "/d4");
    list.AddDir("/");
    EXPECT_EQ(list[8], "/");

    events = 0;
    list.SetMaxCount(3);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"/d5", "/D5", "/"}));
    list.SetMaxCount(5);
    EXPECT_EQ(events, 1); // nothing changed
}

TEST(MRUDirListTest, CommaTextRoundTrips) {
    TMRUDirList list;
    const std::vector<std::string> entries{"/home/u/My Files", "/x",         "/a,b",
                                           "/say \"hi\"",      "/tab\there", "/日本語/résumé",
                                           "/new\nline",       "/plain"};
    for (const std::string& e : entries)
        list.AddDir(e);
    list.SetMaxCount(20);
    const std::string text = list.CommaText();
    EXPECT_TRUE(text.starts_with("\"/home/u/My Files\",/x,\"/a,b\",\"/say \"\"hi\"\"\""));
    EXPECT_TRUE(text.ends_with(",/plain"));

    TMRUDirList back;
    back.SetCommaText(text);
    EXPECT_EQ(back.Entries(), list.Entries());

    TMRUDirList empty;
    EXPECT_EQ(empty.CommaText(), "");
    empty.SetCommaText("");
    EXPECT_EQ(empty.Count(), 0);
}

TEST(MRUDirListTest, ReadingTheCommaTextAsItWasAlwaysRead) {
    TMRUDirList list;
    list.SetMaxCount(2); // loading neither trims nor removes duplicates
    list.SetCommaText("  /a  /b,/c,,\"/d e\" ,\t/a,");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"/a", "/b", "/c", "", "/d e", "/a", ""}));
    list.SetCommaText("\"unterminated, to the end");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"unterminated, to the end"}));
    list.SetCommaText(std::string_view("/a,/b\0,/c", 9));
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"/a", "/b"}));
    list.SetCommaText("\"\"");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{""}));
    EXPECT_EQ(list.CommaText(), "\"\"");
}

TEST(MRUDirListTest, InvalidItemsAndDriveRootsGo) {
    test::TTempDir t;
    t.MkDir("kept");
    t.File("file", 1);
    TMRUDirList list;
    list.SetCommaText("\"" + t / "kept" + "\"," + t / "gone" + "," + t / "file" + ",/,/");
    list.RemoveInvalidItems();
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{t / "kept", "/", "/"}));
    list.RemoveEntries({"/home/", "/"});
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{t / "kept"}));
    list.RemoveDriveRoots(); // a temporary folder is no drive
    EXPECT_EQ(list.Count(), 1);
}

} // namespace
} // namespace qv
