#pragma once
// Saving the size tree as a file: the base class with its walk over the directories, the
// class descriptors that let the registry create an exporter from a class reference, and
// the registry whose order is the order of the save dialog's filter list.
//
// Only directory nodes are written (the top node, directories, drives): files and
// "Grouped Files" nodes are never exported, whether they were loaded or not.
//
// Threading: an export runs on the GUI thread. While a directory's descendants are written
// its child list stays locked, so a scan thread that wants to append there waits; locks are
// taken parent before child, as everywhere in the tree.

#include "view/SizeFormat.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TFileSystemNode;
class TTreeTypesExport;

// A class reference of an exporter: what the registry stores and the save dialog offers.
// One static descriptor per exporter class; descriptors are compared by address.
struct TExportClass {
    const char* ClassName;   // "TCsvTextExport", for messages
    const char* Description; // catalog key, translated by GetDescription
    const char* Extension;   // with its dot: ".csv"
    int ExportKind;          // 2: meant for people, wants formatted sizes; 0: raw byte counts
    const char* CommandName; // the short name of the command line: "csv"
    // The virtual constructor: a new exporter of this class starting at Root.
    std::unique_ptr<TTreeTypesExport> (*Create)(const TFileSystemNode& Root);

    [[nodiscard]] std::string GetFileExtension() const { return Extension; }
    // The description in the current language.
    [[nodiscard]] std::string GetDescription() const;
    [[nodiscard]] int GetExportKind() const noexcept { return ExportKind; }
};

class TTreeTypesExport {
public:
    explicit TTreeTypesExport(const TFileSystemNode& Root) noexcept : Root(Root) {}
    virtual ~TTreeTypesExport() = default;
    TTreeTypesExport(const TTreeTypesExport&) = delete;
    TTreeTypesExport& operator=(const TTreeTypesExport&) = delete;

    // Turns a byte count into text; null writes the plain decimal digits.
    TSizeFormatFunc SizeFormatter = nullptr;

    // The descriptor of the object's class.
    [[nodiscard]] virtual const TExportClass& GetClass() const noexcept = 0;

    // Writes the export to FileName without ever leaving a damaged file there: the output
    // goes to a new file beside it, which replaces the target only when everything was
    // written and synced. On failure the old file is untouched, the new one is removed, and
    // std::system_error (or what the walk threw) reaches the caller; its message names the
    // file. A target that exists and is not a regular file (a device such as /dev/null, a
    // FIFO) is written directly, since it cannot be replaced; a FIFO without a reader fails
    // with ENXIO instead of waiting for one. A symbolic link is followed, also when its file
    // does not exist yet, and stays; a file without write permission is refused (EACCES).
    void SaveToFile(const std::string& FileName);
    // Writes the export to the open descriptor Fd; a failed write throws std::system_error
    // with its errno.
    void SaveToDescriptor(int Fd);
    // The walk: header, the nodes from Root down, footer. A write error throws
    // std::ios_base::failure; the stream's own exception mask is left as it is.
    void SaveToStream(std::ostream& Stream);

    [[nodiscard]] const TFileSystemNode& GetRoot() const noexcept { return Root; }

protected:
    // Hooks of the walk, in the order of their use for one node: BeginNode, WriteNode, and
    // when the node has children BeginChildren, the children, EndChildren; then EndNode.
    virtual void BeginChildren(std::ostream& Stream);
    virtual void BeginNode(std::ostream& Stream);
    virtual void WriteHeader(std::ostream& Stream);
    virtual void WriteFooter(std::ostream& Stream);
    virtual void EndChildren(std::ostream& Stream);
    virtual void EndNode(std::ostream& Stream);
    virtual void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) = 0;

    // SizeFormatter (Size) when set, else the decimal digits of Size.
    [[nodiscard]] std::string FormatSize(std::int64_t Size) const;
    // Writes the bytes of S as they are; throws std::ios_base::failure when the stream fails.
    static void WriteString(std::ostream& Stream, std::string_view S);

    // Where the walk is, for formats that draw the tree: the depth of the node being
    // written (0 for Root), and whether the node at Depth (an ancestor of it, or itself)
    // is followed by a directory in its parent's list. The answers come from the child
    // lists the walk holds locked, so asking never takes a lock (the node lock is not
    // recursive, and the walk already holds the parent's).
    [[nodiscard]] int WalkDepth() const noexcept { return int(Levels.size()); }
    [[nodiscard]] bool HasLaterDirSibling(int Depth) const noexcept;

    const TFileSystemNode& Root;

private:
    struct TLevel {
        std::span<TFileSystemNode* const> Siblings;
        std::size_t Index = 0;
        std::size_t LastDir = 0; // index of the last directory in Siblings, or 0 with none
        bool AnyDir = false;
        bool Started = false; // Index names the sibling being written
    };
    void VisitNode(const TFileSystemNode& Node, std::ostream& Stream);

    std::vector<TLevel> Levels;
};

// Adds nothing; the common base of the five formats.
class TTextExport : public TTreeTypesExport {
public:
    using TTreeTypesExport::TTreeTypesExport;
};

// "generated by Quorvel " and the version text of the running program (empty without a
// version, which leaves the trailing blank).
[[nodiscard]] std::string GeneratedByText();

class TExportRegistry {
public:
    TExportRegistry(const TExportRegistry&) = delete;
    TExportRegistry& operator=(const TExportRegistry&) = delete;

    void Register(const TExportClass* AClass);
    [[nodiscard]] int Count() const noexcept { return int(Classes.size()); }
    // The class at the zero-based Index; std::out_of_range outside 0..Count()-1.
    [[nodiscard]] const TExportClass* GetItem(int Index) const;
    [[nodiscard]] std::string GetFileExtension(int Index) const;
    // The filter list of a file dialog: per class "Description (*.ext)|*.ext", joined by
    // "|", in registration order (so filter index i is GetItem (i - 1)).
    [[nodiscard]] std::string GetFilter() const;
    // The class a command line names: its short name ("csv", "txt", "html", "xml", "xml2")
    // or its one-based position ("1" .. "5"); null for anything else.
    [[nodiscard]] const TExportClass* FindByCommandName(std::string_view Name) const;

private:
    // Only ExportRegistry () makes one, so a second registry cannot exist.
    TExportRegistry() = default;
    friend TExportRegistry& ExportRegistry();

    std::vector<const TExportClass*> Classes;
};

// From now on SIGINT, SIGTERM and SIGHUP remove the temporary file of a SaveToFile in
// progress and then end the process by that signal as they would have. Signals that the
// process ignores stay ignored. For programs that save and end, not for the window.
void RemoveUnfinishedSavesOnSignals();

// The process's registry, filled on first use with csv, txt, html, xml, xml2 in that order.
[[nodiscard]] TExportRegistry& ExportRegistry();

} // namespace qv
