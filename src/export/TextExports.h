#pragma once
// The two plain-text formats: CSV (one line per directory: path, size, file count, and on
// request the size on disk as a fourth column) and the
// text tree (the directories drawn as an indented tree). Both write the names' bytes as
// the file system gave them, with CR LF line ends, so that the files open the same way on
// every system they are carried to.

#include "export/TreeTypesExport.h"

#include <string>
#include <string_view>

namespace qv {

class TCsvTextExport : public TTextExport {
public:
    static const TExportClass Class;
    explicit TCsvTextExport(const TFileSystemNode& Root) noexcept : TTextExport(Root) {}
    [[nodiscard]] const TExportClass& GetClass() const noexcept override { return Class; }

    char Separator = ',';
    // Adds the bytes allocated on disk as a fourth column; off by default, for the readers
    // that expect three.
    bool SizeOnDisk = false;

protected:
    void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) override;

private:
    // Field unchanged, or in double quotes with inner quotes doubled when it holds the
    // separator, a quote, CR or LF: otherwise a comma in a path would add a column.
    [[nodiscard]] std::string QuoteField(std::string_view Field) const;
};

class TTextTreeExport : public TTextExport {
public:
    static const TExportClass Class;
    explicit TTextTreeExport(const TFileSystemNode& Root) noexcept : TTextExport(Root) {}
    [[nodiscard]] const TExportClass& GetClass() const noexcept override { return Class; }

protected:
    void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) override;
};

} // namespace qv
