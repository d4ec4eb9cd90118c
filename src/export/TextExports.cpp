#include "export/TextExports.h"

#include "support/Translate.h"
#include "tree/TreeTypes.h"

namespace qv {

namespace {

template <class T> std::unique_ptr<TTreeTypesExport> Make(const TFileSystemNode& Root) {
    return std::make_unique<T>(Root);
}

constexpr const char* LineEnd = "\r\n";

} // namespace

const TExportClass TCsvTextExport::Class{
    "TCsvTextExport", TrNoop("CSV（逗号分隔）"), ".csv", 0, "csv", &Make<TCsvTextExport>};

const TExportClass TTextTreeExport::Class{
    "TTextTreeExport", TrNoop("文本文件（树结构）"), ".txt", 2, "txt", &Make<TTextTreeExport>};

// --- CSV -----------------------------------------------------------------------------------

std::string TCsvTextExport::QuoteField(std::string_view Field) const {
    const char special[] = {Separator, '"', '\r', '\n'};
    if (Field.find_first_of(std::string_view(special, sizeof special)) == std::string_view::npos)
        return std::string(Field);
    std::string quoted = "\"";
    for (char c : Field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void TCsvTextExport::WriteNode(const TFileSystemNode& Node, std::ostream& Stream) {
    std::string line = QuoteField(Node.GetFullPath());
    line += Separator;
    line += QuoteField(FormatSize(Node.GetSize()));
    line += Separator;
    line += std::to_string(Node.GetFileCount());
    if (SizeOnDisk) {
        line += Separator;
        line += QuoteField(FormatSize(Node.GetSizeOnDisk()));
    }
    line += LineEnd;
    WriteString(Stream, line);
}

// --- text tree -----------------------------------------------------------------------------

void TTextTreeExport::WriteNode(const TFileSystemNode& Node, std::ostream& Stream) {
    const int depth = WalkDepth();
    // Each ancestor below the top adds four columns: a bar when a directory follows it in
    // its own list (its line continues below us), else a blank.
    std::string line;
    for (int d = 0; d < depth; ++d)
        line += HasLaterDirSibling(d) ? "   |" : "    ";
    if (depth == 0)
        line += "   ";
    else
        line += HasLaterDirSibling(depth) ? "   |-- " : "   `-- ";
    const std::int32_t count = Node.GetFileCount();
    line += Node.Name();
    line += "   (";
    line += FormatSize(Node.GetSize());
    line += ", ";
    line += std::to_string(count);
    line += ' ';
    line += count == 1 ? Tr("File") : Tr("Files");
    line += ')';
    line += LineEnd;
    WriteString(Stream, line);
}

} // namespace qv
