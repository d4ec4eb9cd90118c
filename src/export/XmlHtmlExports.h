#pragma once
// The formats for other programs and for the browser: two XML layouts of the directory
// tree (elements, and attributes) and an HTML page with a flat table of every directory,
// its size, its share of the whole scan as a small bar, and its file count.
//
// Every directory element of the XML layouts carries a "sizeondisk" attribute: the bytes
// allocated on disk (st_blocks x 512), which readers of the older layout simply ignore.
//
// Both are written as UTF-8 that a strict parser accepts whatever the names hold: a name
// is bytes, not necessarily UTF-8, and may contain control characters that XML 1.0 has no
// way to express. Such bytes come out as U+FFFD; the rest of the name stays as it is.

#include "export/TreeTypesExport.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// S with the five markup characters replaced by entities: the apostrophe as "&#39;" when
// NumericApostrophe (HTML 4 knows no "&apos;"), else "&apos;". Everything else is copied.
[[nodiscard]] std::string XmlEscape(std::string_view S, bool NumericApostrophe);

// S as well-formed UTF-8 XML 1.0 characters: each ill-formed byte sequence (each maximal
// part of one, as Unicode recommends), each control character other than tab, LF and CR,
// and U+FFFE / U+FFFF becomes U+FFFD. Valid text comes back unchanged.
[[nodiscard]] std::string ValidXmlUtf8(std::string_view S);

struct TRgb {
    std::uint8_t R = 0, G = 0, B = 0;
};

// "#RRGGBB" in upper-case hexadecimal.
[[nodiscard]] std::string ColorToHtml(TRgb Color);

// GeneratedByText, a blank and a link to the maker's site.
[[nodiscard]] std::string HtmlCreditLine();

class TXmlTreeExport : public TTextExport {
public:
    static const TExportClass Class;
    explicit TXmlTreeExport(const TFileSystemNode& Root) noexcept : TTextExport(Root) {}
    [[nodiscard]] const TExportClass& GetClass() const noexcept override { return Class; }

protected:
    void WriteHeader(std::ostream& Stream) override;
    void WriteFooter(std::ostream& Stream) override;
    void BeginNode(std::ostream& Stream) override;
    void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) override;
    void BeginChildren(std::ostream& Stream) override;
    void EndChildren(std::ostream& Stream) override;
    void EndNode(std::ostream& Stream) override;

    // A name as XML character data (in an attribute value when InAttribute): escaped,
    // made valid, and with the white space a parser would normalise away written as
    // character references, so that the name reads back byte for byte where it was valid.
    [[nodiscard]] static std::string XmlName(std::string_view Name, bool InAttribute);
};

class TXmlTreeExport2 : public TXmlTreeExport {
public:
    static const TExportClass Class;
    explicit TXmlTreeExport2(const TFileSystemNode& Root) noexcept : TXmlTreeExport(Root) {}
    [[nodiscard]] const TExportClass& GetClass() const noexcept override { return Class; }

protected:
    void BeginNode(std::ostream& Stream) override;
    void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) override;
    void BeginChildren(std::ostream& Stream) override;
    void EndChildren(std::ostream& Stream) override;
};

class THtmlTableExport : public TTextExport {
public:
    static const TExportClass Class;
    explicit THtmlTableExport(const TFileSystemNode& Root) noexcept : TTextExport(Root) {}
    [[nodiscard]] const TExportClass& GetClass() const noexcept override { return Class; }

    // The colours the page takes from the desktop; the window sets them from its palette
    // before saving. The defaults are those of a common light theme.
    TRgb CaptionTextColor{255, 255, 255};   // column titles
    TRgb ActiveBorderColor{180, 180, 180};  // the table's grid
    TRgb ActiveCaptionColor{153, 180, 209}; // the title row

protected:
    void WriteHeader(std::ostream& Stream) override;
    void WriteNode(const TFileSystemNode& Node, std::ostream& Stream) override;
    void WriteFooter(std::ostream& Stream) override;

private:
    bool OddRow = false;
};

} // namespace qv
