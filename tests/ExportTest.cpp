// The five export formats against real directories scanned into real trees: exact bytes,
// well-formed XML and HTML by xmllint, and saves that never damage an existing file.

#include "TestTree.h"
#include "export/TextExports.h"
#include "export/TreeTypesExport.h"
#include "export/XmlHtmlExports.h"
#include "scan/DirScan.h"
#include "support/AppInfo.h"
#include "support/FileVersion.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/SizeFormat.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace qv {
namespace {

using test::TTempDir;

std::unique_ptr<TRootDirNode> ScanTree(const std::string& Path, std::int64_t Group = 0) {
    auto root = std::make_unique<TRootDirNode>();
    root->SetName(Path);
    root->SetGroupFileSize(Group);
    TDirScanner(*root).Scan(Path, Group);
    return root;
}

std::string Export(const TExportClass& Class, const TFileSystemNode& Root,
                   TSizeFormatFunc Formatter = nullptr) {
    auto exporter = Class.Create(Root);
    exporter->SizeFormatter = Formatter;
    std::ostringstream out;
    exporter->SaveToStream(out);
    return out.str();
}

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream(Path, std::ios::binary) << Data;
}

// The names in a directory, to see that no temporary file was left behind.
std::vector<std::string> Entries(const std::string& Dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs a shell command; its standard output, and the exit status in Status.
std::string RunCommand(const std::string& Command, int& Status) {
    std::string out;
    FILE* p = ::popen(Command.c_str(), "r");
    if (!p) {
        Status = -1;
        return out;
    }
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int rc = ::pclose(p);
    Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string Quoted(const std::string& S) {
    std::string q = "'";
    for (char c : S)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> DirChildNames(const TGroupNode& Node) {
    std::vector<std::string> names;
    TChildrenLock guard(Node);
    for (const TFileSystemNode* child : guard.Children().Items())
        if (dynamic_cast<const TDirNode*>(child))
            names.emplace_back(child->Name());
    return names;
}

TDirNode* Dir(const TGroupNode& Root, const std::string& Rel) {
    return dynamic_cast<TDirNode*>(Root.FindNodeByPath(Root.GetFullPath() + "/" + Rel));
}

// Saves Root as CSV: 0, or the error code of the std::system_error that reached the caller
// (-1 when its message does not name the file).
int SaveError(const TFileSystemNode& Root, const std::string& FileName) {
    try {
        TCsvTextExport(Root).SaveToFile(FileName);
        return 0;
    } catch (const std::system_error& e) {
        return std::string(e.what()).find(FileName) != std::string::npos ? e.code().value() : -1;
    }
}

// One row of the HTML table.
std::string HtmlRow(const char* Background, const std::string& Path, const std::string& Size,
                    int Width, const std::string& Percent, int Files) {
    return "<tr bgcolor=\"" + std::string(Background) + "\"><td>" + Path +
           "</td><td align=\"right\">" + Size +
           "</td><td><table class=\"gauge\" cellpadding=\"0\" cellspacing=\"0\"><tr><td "
           "class=\"gauge\" width=\"" +
           std::to_string(Width) + "\"></td><td>&nbsp;" + Percent +
           "%</td></tr></table></td><td align=\"right\">" + std::to_string(Files) +
           "</td></tr>\r\n";
}

// --- registry ------------------------------------------------------------------------------

TEST(ExportRegistryTest, ClassesInFilterOrderWithExtensionsKindsAndCommandNames) {
    TExportRegistry& registry = ExportRegistry();
    EXPECT_EQ(&registry, &ExportRegistry());
    ASSERT_EQ(registry.Count(), 5);
    const struct {
        const TExportClass* Class;
        const char *Extension, *Command;
        int Kind;
    } expected[] = {{&TCsvTextExport::Class, ".csv", "csv", 0},
                    {&TTextTreeExport::Class, ".txt", "txt", 2},
                    {&THtmlTableExport::Class, ".html", "html", 2},
                    {&TXmlTreeExport::Class, ".xml", "xml", 0},
                    {&TXmlTreeExport2::Class, ".xml", "xml2", 0}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(registry.GetItem(i), expected[i].Class);
        EXPECT_EQ(registry.GetFileExtension(i), expected[i].Extension);
        EXPECT_EQ(registry.GetItem(i)->GetExportKind(), expected[i].Kind);
        EXPECT_EQ(registry.FindByCommandName(expected[i].Command), expected[i].Class);
        EXPECT_EQ(registry.FindByCommandName(std::to_string(i + 1)), expected[i].Class);
    }
    for (const char* unknown : {"", "0", "6", "CSV", ".csv"})
        EXPECT_EQ(registry.FindByCommandName(unknown), nullptr) << unknown;
    EXPECT_THROW((void)registry.GetItem(5), std::out_of_range);
    EXPECT_THROW((void)registry.GetItem(-1), std::out_of_range);

    // Without a catalog the descriptions are the keys.
    EXPECT_EQ(registry.GetFilter(), "CSV（逗号分隔） (*.csv)|*.csv|"
                                    "文本文件（树结构） (*.txt)|*.txt|"
                                    "HTML File (*.html)|*.html|"
                                    "XML 文件 (*.xml)|*.xml|"
                                    "XML 文件 v2.0 (*.xml)|*.xml");

    // The virtual constructor makes an object of the class it belongs to, at the given root.
    TTempDir t;
    auto root = ScanTree(t.Path());
    for (const auto& e : expected) {
        auto exporter = e.Class->Create(*root);
        EXPECT_EQ(&exporter->GetClass(), e.Class);
        EXPECT_EQ(&exporter->GetRoot(), root.get());
        EXPECT_EQ(exporter->SizeFormatter, nullptr);
    }
}

TEST(ExportRegistryTest, DescriptionsAndWordsFollowTheLanguage) {
    SetCatalogFolders(
        {ExecutableFileName().substr(0, ExecutableFileName().rfind('/')) + "/locale"});
    ASSERT_TRUE(UseLanguage("de"));
    const std::string filter = ExportRegistry().GetFilter();
    EXPECT_EQ(filter.find("CSV（"), std::string::npos) << filter;
    EXPECT_NE(filter.find(Tr("HTML File") + " (*.html)|*.html"), std::string::npos);
    EXPECT_NE(Tr("Files"), "Files");

    TTempDir t;
    t.File("one", 3);
    auto root = ScanTree(t.Path());
    EXPECT_EQ(Export(TTextTreeExport::Class, *root),
              "   " + t.Path() + "   (3, 1 " + Tr("File") + ")\r\n");
    EXPECT_NE(Export(THtmlTableExport::Class, *root).find("<th>" + Tr("Directory") + "</th>"),
              std::string::npos);

    // Back to the keys: no catalog anywhere.
    SetCatalogFolders({t / "none"});
    UseLanguage("de");
    SetCatalogFolders({});
    EXPECT_EQ(Tr("Files"), "Files");
}

// --- CSV -----------------------------------------------------------------------------------

TEST(CsvExportTest, OneCrLfLineperDirectoryWithQuotingOnlyWhereNeeded) {
    TTempDir t;
    t.File("top", 1);
    t.File("a/f1", 1000);
    t.File("a/x/f2", 24);
    t.File("c,d/f3", 7);
    t.File("q\"uote/f4", 5);
    t.MkDir("empty");
    t.File("line\nbreak/f5", 2);
    auto root = ScanTree(t.Path());

    const std::string p = t.Path();
    std::map<std::string, std::string> lines = {
        {"a", p + "/a,1024,2\r\n" + p + "/a/x,24,1\r\n"},     {"c,d", "\"" + p + "/c,d\",7,1\r\n"},
        {"q\"uote", "\"" + p + "/q\"\"uote\",5,1\r\n"},       {"empty", p + "/empty,0,0\r\n"},
        {"line\nbreak", "\"" + p + "/line\nbreak\",2,1\r\n"},
    };
    std::string expected = p + ",1039,6\r\n";
    for (const std::string& name : DirChildNames(*root))
        expected += lines.at(name);
    EXPECT_EQ(Export(TCsvTextExport::Class, *root), expected);

    // A separator of the caller's choosing quotes what holds it, and only that.
    TCsvTextExport semicolon(*root);
    semicolon.Separator = ';';
    std::ostringstream out;
    semicolon.SaveToStream(out);
    EXPECT_NE(out.str().find(p + "/c,d;7;1\r\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"" + p + "/q\"\"uote\";5;1\r\n"), std::string::npos);
}

// The fourth column on request: every directory's size on disk reads back as lstat sums it;
// the XML attribute says the same.
TEST(CsvExportTest, SizeOnDiskColumnReadsBackAsLstatSumsIt) {
    TTempDir t;
    t.Data("a/f1", 9000);
    t.Data("a/x,y/f2", 100);
    t.File("sparse", 1 << 24);
    auto root = ScanTree(t.Path());
    TCsvTextExport csv(*root);
    csv.SizeOnDisk = true;
    std::ostringstream out;
    csv.SaveToStream(out);
    std::map<std::string, std::int64_t> read;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(line.ends_with("\r")) << line;
        line.pop_back();
        const std::size_t last = line.rfind(',');
        std::string path = line.substr(0, line.rfind(',', line.rfind(',', last - 1) - 1));
        if (path.starts_with('"'))
            path = path.substr(1, path.size() - 2);
        read[path] = std::stoll(line.substr(last + 1));
    }
    const auto sums = test::DiskSums(t.Path(), true);
    ASSERT_EQ(read.size(), sums.size()) << out.str();
    for (const auto& [path, want] : sums)
        EXPECT_EQ(read[path], want.OnDisk) << path;
    EXPECT_GT(read[t / "a"], 9000);
    EXPECT_LT(read[t.Path()], 1 << 24);

    const std::string xml = Export(TXmlTreeExport2::Class, *root);
    EXPECT_NE(xml.find("<dir name=\"a\" size=\"9100\" filecount=\"2\" sizeondisk=\"" +
                       std::to_string(sums.at(t / "a").OnDisk) + "\">"),
              std::string::npos)
        << xml;
}

TEST(CsvExportTest, FixedDrivesTopHasAnEmptyPathAndEachDriveItsLinesInOrder) {
    TTempDir d1, d2;
    d1.File("s/f", 10);
    d2.File("g", 4);
    d2.MkDir("t");
    TFixedDrivesNode top({d1.Path(), d2.Path()});
    {
        TChildrenLock guard(top);
        for (TFileSystemNode* drive : guard.Children().Items())
            TDirScanner(*static_cast<TDirNode*>(drive)).Scan(std::string(drive->Name()), 0);
    }
    top.UpdateTotals();
    EXPECT_EQ(Export(TCsvTextExport::Class, top), ",14,2\r\n" + d1.Path() + ",10,1\r\n" +
                                                      d1.Path() + "/s,10,1\r\n" + d2.Path() +
                                                      ",4,1\r\n" + d2.Path() + "/t,0,0\r\n");
    // The text tree's top line has no name, and the HTML page an empty title path.
    const std::string tree = Export(TTextTreeExport::Class, top);
    EXPECT_EQ(tree.substr(0, tree.find("\r\n")), "      (14, 2 Files)");
    const std::string html = Export(THtmlTableExport::Class, top);
    EXPECT_NE(html.find("\t<title>Quorvel - </title>\r\n"), std::string::npos);
    EXPECT_NE(html.find("<h1></h1>\r\n"), std::string::npos);
}

// --- text tree -----------------------------------------------------------------------------

TEST(TextTreeExportTest, DrawsTheTreeWithBarsOnlyWhereADirectoryFollows) {
    TTempDir t;
    t.File("a/x/big", 2000);
    t.File("a/one", 1);
    t.MkDir("b");
    t.File("f-after", 30);
    t.File("g-after", 40);
    auto root = ScanTree(t.Path(), 35); // f-after alone is small: no group node
    // Files loaded after the scan are appended behind the directories.
    ASSERT_GT(root->LoadFiles(), 0);
    {
        TChildrenLock guard(*root);
        ASSERT_FALSE(dynamic_cast<TDirNode*>(guard.Children().Items().back()));
    }

    const std::string p = t.Path();
    const std::string top = "   " + p + "   (2071, 4 Files)\r\n";
    const std::string x = "   `-- x   (2000, 1 File)\r\n";
    std::string expected;
    if (DirChildNames(*root) == std::vector<std::string>{"a", "b"})
        expected = top + "       |-- a   (2001, 2 Files)\r\n" + "       |" + x +
                   "       `-- b   (0, 0 Files)\r\n";
    else
        expected = top + "       |-- b   (0, 0 Files)\r\n" + "       `-- a   (2001, 2 Files)\r\n" +
                   "        " + x;
    EXPECT_EQ(Export(TTextTreeExport::Class, *root), expected);

    // Deep indentation, and sizes formatted when a formatter is set.
    TTempDir d;
    d.File("a/b/c/f", 1536);
    root = ScanTree(d.Path());
    SetNumberSeparators(".", ",");
    EXPECT_EQ(Export(TTextTreeExport::Class, *root),
              "   " + d.Path() + "   (1536, 1 File)\r\n" + "       `-- a   (1536, 1 File)\r\n" +
                  "           `-- b   (1536, 1 File)\r\n" +
                  "               `-- c   (1536, 1 File)\r\n");
    const std::string bankers = Export(TTextTreeExport::Class, *root, &FormatSizeBankers);
    EXPECT_NE(bankers.find("`-- c   (1.5 KB, 1 File)\r\n"), std::string::npos) << bankers;
    SetNumberSeparators(TNumberSeparators{});
}

TEST(ExportTest, FilesAndGroupedFilesAreNeverWrittenEvenWhenLoaded) {
    TTempDir t;
    t.File("sub/small-1", 1);
    t.File("sub/small-2", 2);
    t.File("sub/large-file", 500);
    t.File("top-file", 600);
    auto root = ScanTree(t.Path(), 100);
    TDirNode* sub = Dir(*root, "sub");
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(sub->FileGroup(), nullptr);
    ASSERT_GT(root->LoadFiles(), 0);
    ASSERT_GT(sub->LoadFiles(), 0);
    ASSERT_GT(sub->FileGroup()->LoadFiles(), 0);
    for (int i = 0; i < ExportRegistry().Count(); ++i) {
        const TExportClass& c = *ExportRegistry().GetItem(i);
        SCOPED_TRACE(c.ClassName);
        const std::string out = Export(c, *root);
        for (const char* name : {"small-1", "small-2", "large-file", "top-file", "Grouped"})
            EXPECT_EQ(out.find(name), std::string::npos) << name << "\n" << out;
        EXPECT_NE(out.find("sub"), std::string::npos);
        // A stream that fails reaches the caller.
        std::ostringstream bad;
        bad.setstate(std::ios::badbit);
        EXPECT_THROW(c.Create(*root)->SaveToStream(bad), std::ios_base::failure);
    }
    // Only directories: two CSV lines.
    EXPECT_EQ(Export(TCsvTextExport::Class, *root),
              t.Path() + ",1103,4\r\n" + t.Path() + "/sub,503,3\r\n");
}

// --- XML -----------------------------------------------------------------------------------

std::string XmlHeader() {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- " + GeneratedByText() +
           " (https://quorvel.example.org/) -->\r\n<Quorvel>";
}

TEST(XmlExportTest, BothLayoutsByteForByte) {
    TTempDir t;
    t.File("only-files/f", 3);
    t.MkDir("only-files/leaf");
    t.File("x'y&<z>\"/g", 4);
    auto root = ScanTree(t.Path());
    // Its file, once loaded, is a child that is no directory: an empty subdirs element.
    ASSERT_EQ(Dir(*root, "x'y&<z>\"")->LoadFiles(), 1);
    ASSERT_EQ(GeneratedByText(), "generated by Quorvel " + VersionText(ExecutableFileName()));
    EXPECT_NE(VersionText(ExecutableFileName()), "");

    // The bytes allocated, as lstat tells them.
    const auto onDisk = [&](const std::string& Rel) {
        struct stat st {};
        EXPECT_EQ(::lstat((t / Rel).c_str(), &st), 0) << Rel;
        return std::int64_t(st.st_blocks) * 512;
    };
    const std::string f = std::to_string(onDisk("only-files/f"));
    const std::string g = std::to_string(onDisk("x'y&<z>\"/g"));
    const std::string all = std::to_string(onDisk("only-files/f") + onDisk("x'y&<z>\"/g"));
    const std::map<std::string, std::string> elements = {
        {"only-files", "<dir sizeondisk=\"" + f +
                           "\"><name>only-files</name><size>3</size><count>1</count><subdirs>"
                           "<dir sizeondisk=\"0\"><name>leaf</name><size>0</size><count>0</count>"
                           "</dir></subdirs></dir>"},
        {"x'y&<z>\"", "<dir sizeondisk=\"" + g +
                          "\"><name>x&apos;y&amp;&lt;z&gt;&quot;</name><size>4</size>"
                          "<count>1</count><subdirs></subdirs></dir>"},
    };
    const std::map<std::string, std::string> attributes = {
        {"only-files", "<dir name=\"only-files\" size=\"3\" filecount=\"1\" sizeondisk=\"" + f +
                           "\"><dir name=\"leaf\" size=\"0\" filecount=\"0\" sizeondisk=\"0\">"
                           "</dir></dir>"},
        {"x'y&<z>\"", "<dir name=\"x&apos;y&amp;&lt;z&gt;&quot;\" size=\"4\" filecount=\"1\" "
                      "sizeondisk=\"" +
                          g + "\"></dir>"},
    };
    std::string v1 = XmlHeader() + "<dir sizeondisk=\"" + all + "\"><name>" + t.Path() +
                     "</name><size>7</size><count>2</count><subdirs>";
    std::string v2 = XmlHeader() + "<dir name=\"" + t.Path() +
                     "\" size=\"7\" filecount=\"2\" sizeondisk=\"" + all + "\">";
    for (const std::string& name : DirChildNames(*root)) {
        v1 += elements.at(name);
        v2 += attributes.at(name);
    }
    v1 += "</subdirs></dir></Quorvel>";
    v2 += "</dir></Quorvel>";
    EXPECT_EQ(Export(TXmlTreeExport::Class, *root), v1);
    EXPECT_EQ(Export(TXmlTreeExport2::Class, *root), v2);

    // An empty tree: the top node alone, no subdirs element.
    TTempDir e;
    auto empty = ScanTree(e.Path());
    EXPECT_EQ(Export(TXmlTreeExport::Class, *empty),
              XmlHeader() + "<dir sizeondisk=\"0\"><name>" + e.Path() +
                  "</name><size>0</size><count>0</count></dir></Quorvel>");
}

// A chain of 100 000 directories, deeper than any recursion could go on a thread's stack:
// written completely, and freed with the tree.
TEST(XmlExportTest, AnyDepthIsWrittenAndFreed) {
    constexpr int Depth = 100000;
    auto root = std::make_unique<TRootDirNode>();
    root->SetName("/deep");
    TDirNode* node = root.get();
    for (int i = 0; i < Depth; ++i)
        node = node->AddDirectory("d", faDirectory);
    const std::string xml = Export(TXmlTreeExport::Class, *root);
    const std::string level = "<dir sizeondisk=\"0\"><name>d</name><size>0</size><count>0</count>";
    std::size_t levels = 0;
    for (std::size_t at = xml.find(level); at != std::string::npos; at = xml.find(level, at + 1))
        ++levels;
    EXPECT_EQ(levels, std::size_t(Depth));
    std::string tail;
    for (int i = 0; i < 3; ++i)
        tail += "</dir></subdirs>";
    EXPECT_NE(xml.find(level + "</dir></subdirs>" + tail), std::string::npos);
    EXPECT_TRUE(xml.ends_with("</subdirs></dir></Quorvel>"));
    root.reset();
}

TEST(XmlExportTest, TextIsAlwaysValidXmlUtf8) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain \t\r\n größe € 𝄞", "plain \t\r\n größe € 𝄞"},
        {"a\xff\xfe\x62", "a" + r + r + "b"},
        {"\x01\x1b\x7f", r + r + "\x7f"},
        {std::string("\0", 1), r},
        {"\xC0\xAF", r + r},                 // overlong "/"
        {"\xED\xA0\x80", r + r + r},         // a surrogate
        {"\xE2\x82x", r + "x"},              // cut short: one replacement
        {"\xF4\x90\x80\x80", r + r + r + r}, // beyond U+10FFFF
        {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r}, // U+FFFE, U+FFFF
        {"\xF0\x9F\x98", r}};                // truncated at the end
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ValidXmlUtf8(in), out) << testing::PrintToString(in);

    EXPECT_EQ(XmlEscape("", false), "");
    EXPECT_EQ(XmlEscape("a\"&'<>\x01", false), "a&quot;&amp;&apos;&lt;&gt;\x01");
    EXPECT_EQ(XmlEscape("'", true), "&#39;");
    EXPECT_EQ(ColorToHtml({0x12, 0xAB, 0x0F}), "#12AB0F");
}

// A tree whose names hold everything a file system allows and markup does not.
class HostileTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        T.File("bad\xff\xfe/f", 10);
        T.File("ctl\x01\x1b/f", 20);
        T.File("mark<&>\"'/f", 40);
        T.File("new\nline/f", 80);
        T.File("cr\rret/f", 160);
        T.File("tab\tname/f", 320);
        T.File("größe €/sub/f", 640);
        Root = ScanTree(T.Path());
    }
    // Saves with the class of Index and runs xmllint on the file; its output.
    std::string Lint(const TExportClass& Class, const std::string& Args, int& Status) {
        const std::string file = T / ("export" + Class.GetFileExtension());
        Class.Create(*Root)->SaveToFile(file);
        std::string out = RunCommand("xmllint " + Args + " " + Quoted(file) + " 2>&1", Status);
        // --xpath ends its answer with a line break of its own.
        if (Args.starts_with("--xpath") && !out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
    TTempDir T;
    std::unique_ptr<TRootDirNode> Root;
};

TEST_F(HostileTreeTest, XmlLintAcceptsEveryMarkupFormatAndTheNamesReadBack) {
    for (const TExportClass* c : {&TXmlTreeExport::Class, &TXmlTreeExport2::Class}) {
        int status = -1;
        EXPECT_EQ(Lint(*c, "--noout", status), "") << c->ClassName;
        EXPECT_EQ(status, 0) << c->ClassName;
    }
    // Sizes and counts read back; valid names byte for byte, white space included (LF and
    // tab are checked in attributes, where a parser would normalise them); invalid bytes as
    // U+FFFD.
    const TExportClass* v1 = &TXmlTreeExport::Class;
    const TExportClass* v2 = &TXmlTreeExport2::Class;
    const struct {
        const TExportClass* Class;
        const char *Path, *Expected;
    } queries[] = {{v1, "string(/Quorvel/dir/size)", "1270"},
                   {v1, "count(//dir)", "9"},
                   {v1, "string(//dir[name=\"sub\"]/size)", "640"},
                   {v1, "string(//dir[size=40]/name)", "mark<&>\"'"},
                   {v1, "string(//dir[size=160]/name)", "cr\rret"},
                   {v1, "string(//dir[size=10]/name)", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
                   {v1, "string(//dir[size=20]/name)", "ctl\xEF\xBF\xBD\xEF\xBF\xBD"},
                   {v2, "string(/Quorvel/dir/@size)", "1270"},
                   {v2, "string(//dir[@size=1270]/@filecount)", "7"},
                   {v2, "string(//dir[@size=80]/@name)", "new\nline"},
                   {v2, "string(//dir[@size=320]/@name)", "tab\tname"},
                   {v2, "string(//dir[@name=\"sub\"]/../@name)", "größe €"}};
    for (const auto& q : queries) {
        int status = -1;
        EXPECT_EQ(Lint(*q.Class, "--xpath " + Quoted(q.Path), status), q.Expected)
            << q.Class->ClassName << " " << q.Path;
    }

    // The HTML page too is valid UTF-8, with the paths escaped everywhere.
    int status = -1;
    EXPECT_EQ(Lint(THtmlTableExport::Class, "--html --noout", status), "");
    EXPECT_EQ(status, 0);
    const std::string html = Export(THtmlTableExport::Class, *Root);
    EXPECT_NE(html.find("charset=UTF-8\">\r\n"), std::string::npos);
    EXPECT_EQ(html.find("ISO-8859-1"), std::string::npos);
    EXPECT_NE(html.find("<td>" + T.Path() + "/mark&lt;&amp;&gt;&quot;&#39;</td>"),
              std::string::npos);
    EXPECT_NE(html.find("<td>" + T.Path() + "/bad\xEF\xBF\xBD\xEF\xBF\xBD</td>"),
              std::string::npos);
    EXPECT_NE(html.find("<td>" + T.Path() + "/größe €/sub</td>"), std::string::npos);
    EXPECT_EQ(html.find('\x01'), std::string::npos);
    EXPECT_EQ(html.find('\xff'), std::string::npos);

    // A root path with markup is escaped in the title and the heading as in the rows.
    T.MkDir("r<&>'");
    auto odd = ScanTree(T / "r<&>'");
    const std::string escaped = T.Path() + "/r&lt;&amp;&gt;&#39;";
    const std::string page = Export(THtmlTableExport::Class, *odd);
    EXPECT_NE(page.find("\t<title>Quorvel - " + escaped + "</title>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<h1>" + escaped + "</h1>\r\n"), std::string::npos);
}

TEST(HtmlExportTest, WholePageByteForByteAndPercentsOfTheWholeScan) {
    TTempDir t;
    t.File("quarter/f", 1000);
    t.File("rest", 3000);
    auto root = ScanTree(t.Path());
    const std::string credit = "<code>" + GeneratedByText() +
                               " <a href=\"https://quorvel.example.org/\" title=\"Quorvel "
                               "Project\">https://quorvel.example.org/</a></code>\r\n";
    EXPECT_EQ(HtmlCreditLine() + "</code>\r\n", credit.substr(6));
    const std::string expected =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\r\n"
        "\t\"http://www.w3.org/TR/html4/loose.dtd\">\r\n"
        "<!-- " +
        GeneratedByText() +
        " -->\r\n"
        "<html>\r\n<head>\r\n"
        "\t<meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">\r\n"
        "\t<title>Quorvel - " +
        t.Path() +
        "</title>\r\n"
        "\t<style type=\"text/css\">\r\n<!--\r\n"
        "body { font-family:Arial,sans-serif; }\r\n"
        "h1 { font-size:1.2em; }\r\n"
        "th { color: #FFFFFF; }\r\n"
        "td { font-size:0.7em; font-family:Tahoma,Arial,sans-serif; }\r\n"
        "table.gauge { empty-cells:show; }\r\n"
        "td.gauge { color: #000000; border: 1px solid #E2C25F; background-color: #F6E07B; }\r\n"
        "-->\r\n\t</style>\r\n</head>\r\n<body>\r\n" +
        credit + "<h1>" + t.Path() +
        "</h1>\r\n"
        "<table cellpadding=\"3\" cellspacing=\"1\" bgcolor=\"#B4B4B4\">\r\n"
        "<tr bgcolor=\"#99B4D1\"><th>Directory</th><th>Size</th><th>Percent</th>"
        "<th>Files</th></tr>\r\n" +
        HtmlRow("#FFFFFF", t.Path(), "3.90 KB", 100, "100", 2) +
        HtmlRow("#F0F0F0", t / "quarter", "1000 Byte", 25, "25", 1) + "</table>\r\n" + credit +
        "</body></html>\r\n";
    SetNumberSeparators(".", ",");
    EXPECT_EQ(Export(THtmlTableExport::Class, *root, &FormatSizeRoundDown), expected);

    // Percents of the whole scan (b holds 45.3 %, not 100 % of its parent); plain digits
    // without a formatter; an empty scan is 0 %.
    TTempDir p, e;
    p.File("a/b/f", 453);
    p.File("g", 547);
    e.MkDir("nothing");
    SetNumberSeparators(",", ".");
    const std::string html = Export(THtmlTableExport::Class, *ScanTree(p.Path()));
    const std::string zero = Export(THtmlTableExport::Class, *ScanTree(e.Path()));
    SetNumberSeparators(TNumberSeparators{});
    EXPECT_NE(html.find(HtmlRow("#FFFFFF", p.Path(), "1000", 100, "100", 2) +
                        HtmlRow("#F0F0F0", p / "a", "453", 45, "45,3", 1) +
                        HtmlRow("#FFFFFF", p / "a/b", "453", 45, "45,3", 1) + "</table>"),
              std::string::npos)
        << html;
    EXPECT_NE(zero.find(HtmlRow("#FFFFFF", e.Path(), "0", 0, "0", 0) +
                        HtmlRow("#F0F0F0", e / "nothing", "0", 0, "0", 0) + "</table>"),
              std::string::npos)
        << zero;
}

// --- saving --------------------------------------------------------------------------------

TEST(SaveToFileTest, ReplacesAnExistingFileKeepingItsModeAndLeavesNothingElse) {
    TTempDir t;
    t.File("data/f", 12);
    auto root = ScanTree(t / "data");
    t.MkDir("out");
    const std::string target = t / "out/tree.csv";
    WriteFile(target, "old contents\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    TCsvTextExport(*root).SaveToFile(target);
    EXPECT_EQ(ReadFile(target), t / "data" + ",12,1\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(t / "out"), std::vector<std::string>{"tree.csv"});

    // A new file gets 0666 less the umask.
    const mode_t mask = ::umask(027);
    TXmlTreeExport(*root).SaveToFile(t / "out/new.xml");
    ::umask(mask);
    ASSERT_EQ(::stat((t / "out/new.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A symbolic link stays a link; the file behind it gets the export.
    ASSERT_EQ(::symlink("tree.csv", (t / "out/link.csv").c_str()), 0);
    TTextTreeExport(*root).SaveToFile(t / "out/link.csv");
    ASSERT_EQ(::lstat((t / "out/link.csv").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(target).substr(0, 3), "   ");
    // A dangling one leads to where the new file goes, as with a shell redirect.
    t.MkDir("out/sub");
    ASSERT_EQ(::symlink("sub/made.csv", (t / "out/dangling.csv").c_str()), 0);
    TCsvTextExport(*root).SaveToFile(t / "out/dangling.csv");
    ASSERT_EQ(::lstat((t / "out/dangling.csv").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(t / "out/sub/made.csv"), t / "data" + ",12,1\r\n");
    EXPECT_EQ(Entries(t / "out/sub"), std::vector<std::string>{"made.csv"});
    EXPECT_EQ(Entries(t / "out"),
              (std::vector<std::string>{"dangling.csv", "link.csv", "new.xml", "sub", "tree.csv"}));

    // A device is written, not replaced.
    TCsvTextExport(*root).SaveToFile("/dev/null");
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(SaveToFileTest, FailuresReachTheCallerAndLeaveTheOldFileAlone) {
    TTempDir t;
    t.File("data/a/f", 5);
    auto root = ScanTree(t / "data");

    EXPECT_EQ(SaveError(*root, t / "gone/out.csv"), ENOENT); // a folder that vanished
    EXPECT_EQ(Entries(t.Path()), std::vector<std::string>{"data"});
    EXPECT_GT(SaveError(*root, t / "data"), 0);       // a directory in the way
    EXPECT_EQ(SaveError(*root, "/dev/full"), ENOSPC); // a device that refuses the data

    // A folder the user may not write to: the old file stays, no new one appears.
    t.MkDir("locked");
    const std::string target = t / "locked/tree.html";
    WriteFile(target, "old page");
    t.Chmod("locked/tree.html", 0666);
    t.Chmod("locked", 0555);
    EXPECT_EQ(test::RunUnprivileged([&] { return SaveError(*root, target); }), EACCES);
    t.Chmod("locked", 0755);
    EXPECT_EQ(ReadFile(target), "old page");
    EXPECT_EQ(Entries(t / "locked"), std::vector<std::string>{"tree.html"});
    // Nor a read-only file in a folder the user may write to.
    t.Chmod("locked", 0777);
    t.Chmod("locked/tree.html", 0444);
    EXPECT_EQ(test::RunUnprivileged([&] { return SaveError(*root, target); }), EACCES);
    t.Chmod("locked/tree.html", 0666);
    EXPECT_EQ(ReadFile(target), "old page");
    EXPECT_EQ(Entries(t / "locked"), std::vector<std::string>{"tree.html"});
    // A write that fails halfway removes the new file: files may not grow beyond 500 bytes
    // in the child, so the write fails with EFBIG.
    for (int i = 0; i < 20; ++i)
        t.File("data/directory-with-a-long-name-" + std::to_string(i) + "/f", i);
    root = ScanTree(t / "data");
    ASSERT_GT(Export(TCsvTextExport::Class, *root).size(), 1000u);
    t.Chmod("locked", 0777);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{500, 500};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  return SaveError(*root, target);
              }),
              EFBIG);
    EXPECT_EQ(ReadFile(target), "old page");
    EXPECT_EQ(Entries(t / "locked"), std::vector<std::string>{"tree.html"});
}

} // namespace
} // namespace qv
