#include "export/XmlHtmlExports.h"

#include "support/AppInfo.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"

#include <cmath>

namespace qv {

namespace {

template <class T> std::unique_ptr<TTreeTypesExport> Make(const TFileSystemNode& Root) {
    return std::make_unique<T>(Root);
}

constexpr const char* LineEnd = "\r\n";
constexpr const char* Replacement = "\xEF\xBF\xBD"; // U+FFFD

bool IsContinuation(unsigned char c) {
    return c >= 0x80 && c <= 0xBF;
}

// A comment must not hold "--"; the version text comes from a catalog, so be sure.
std::string CommentText(std::string S) {
    for (auto pos = S.find("--"); pos != std::string::npos; pos = S.find("--", pos))
        S.insert(pos + 1, " ");
    return S;
}

std::string HtmlText(std::string_view S) {
    return ValidXmlUtf8(XmlEscape(S, true));
}

} // namespace

const TExportClass THtmlTableExport::Class{
    "THtmlTableExport", TrNoop("HTML File"), ".html", 2, "html", &Make<THtmlTableExport>};
const TExportClass TXmlTreeExport::Class{"TXmlTreeExport",     TrNoop("XML 文件"), ".xml", 0, "xml",
                                         &Make<TXmlTreeExport>};
const TExportClass TXmlTreeExport2::Class{
    "TXmlTreeExport2", TrNoop("XML 文件 v2.0"), ".xml", 0, "xml2", &Make<TXmlTreeExport2>};

std::string XmlEscape(std::string_view S, bool NumericApostrophe) {
    std::string result;
    result.reserve(S.size());
    for (char c : S) {
        switch (c) {
        case '"':
            result += "&quot;";
            break;
        case '&':
            result += "&amp;";
            break;
        case '\'':
            result += NumericApostrophe ? "&#39;" : "&apos;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::string ValidXmlUtf8(std::string_view S) {
    std::string result;
    result.reserve(S.size());
    const auto* p = reinterpret_cast<const unsigned char*>(S.data());
    const std::size_t n = S.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                result += Replacement;
            else
                result += char(c);
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must lie in: the
        // narrow ranges rule out overlong forms, surrogates and values beyond U+10FFFF.
        std::size_t more = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            result += Replacement;
            ++i;
            continue;
        }
        std::size_t len = 1;
        if (i + 1 < n && p[i + 1] >= lo && p[i + 1] <= hi) {
            len = 2;
            while (len <= more && i + len < n && IsContinuation(p[i + len]))
                ++len;
        }
        if (len != more + 1) {
            // One replacement for the bytes that started a sequence which never finished.
            result += Replacement;
            i += len;
            continue;
        }
        // U+FFFE and U+FFFF are not XML characters: EF BF BE / EF BF BF.
        if (c == 0xEF && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF))
            result += Replacement;
        else
            result.append(S.substr(i, len));
        i += len;
    }
    return result;
}

std::string ColorToHtml(TRgb Color) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "#";
    for (std::uint8_t v : {Color.R, Color.G, Color.B}) {
        text += digits[v >> 4];
        text += digits[v & 15];
    }
    return text;
}

std::string HtmlCreditLine() {
    return HtmlText(GeneratedByText()) + " <a href=\"" + MakerWebAddress + "\" title=\"" +
           MakerSiteName + "\">" + MakerWebAddress + "</a>";
}

// --- XML, elements -------------------------------------------------------------------------

std::string TXmlTreeExport::XmlName(std::string_view Name, bool InAttribute) {
    const std::string valid = ValidXmlUtf8(XmlEscape(Name, false));
    std::string result;
    result.reserve(valid.size());
    for (char c : valid) {
        // A parser turns CR into LF everywhere, and LF and tab into blanks in attributes.
        if (c == '\r')
            result += "&#13;";
        else if (InAttribute && c == '\n')
            result += "&#10;";
        else if (InAttribute && c == '\t')
            result += "&#9;";
        else
            result += c;
    }
    return result;
}

void TXmlTreeExport::WriteHeader(std::ostream& Stream) {
    WriteString(Stream, std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") + LineEnd +
                            "<!-- " + CommentText(ValidXmlUtf8(GeneratedByText())) + " (" +
                            MakerWebAddress + ") -->" + LineEnd + "<" + AppName + ">");
}

void TXmlTreeExport::WriteFooter(std::ostream& Stream) {
    WriteString(Stream, std::string("</") + AppName + ">");
}

// The element is opened by WriteNode, which knows the node its attribute describes.
void TXmlTreeExport::BeginNode(std::ostream&) {}

void TXmlTreeExport::WriteNode(const TFileSystemNode& Node, std::ostream& Stream) {
    WriteString(Stream, "<dir sizeondisk=\"" + FormatSize(Node.GetSizeOnDisk()) + "\"><name>" +
                            XmlName(Node.Name(), false) + "</name><size>" +
                            FormatSize(Node.GetSize()) + "</size><count>" +
                            std::to_string(Node.GetFileCount()) + "</count>");
}

void TXmlTreeExport::BeginChildren(std::ostream& Stream) {
    WriteString(Stream, "<subdirs>");
}

void TXmlTreeExport::EndChildren(std::ostream& Stream) {
    WriteString(Stream, "</subdirs>");
}

void TXmlTreeExport::EndNode(std::ostream& Stream) {
    WriteString(Stream, "</dir>");
}

// --- XML, attributes -----------------------------------------------------------------------

void TXmlTreeExport2::BeginNode(std::ostream&) {}
void TXmlTreeExport2::BeginChildren(std::ostream&) {}
void TXmlTreeExport2::EndChildren(std::ostream&) {}

void TXmlTreeExport2::WriteNode(const TFileSystemNode& Node, std::ostream& Stream) {
    WriteString(Stream, "<dir name=\"" + XmlName(Node.Name(), true) + "\" size=\"" +
                            FormatSize(Node.GetSize()) + "\" filecount=\"" +
                            std::to_string(Node.GetFileCount()) + "\" sizeondisk=\"" +
                            FormatSize(Node.GetSizeOnDisk()) + "\">");
}

// --- HTML ----------------------------------------------------------------------------------

void THtmlTableExport::WriteHeader(std::ostream& Stream) {
    const std::string path = HtmlText(Root.GetFullPath());
    std::string s;
    s += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"";
    s += LineEnd;
    s += "\t\"http://www.w3.org/TR/html4/loose.dtd\">";
    s += LineEnd;
    s += "<!-- " + CommentText(HtmlText(GeneratedByText())) + " -->" + LineEnd;
    s += std::string("<html>") + LineEnd + "<head>" + LineEnd;
    // The page is UTF-8 through and through: names were made valid above.
    s += std::string("\t<meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">") +
         LineEnd;
    s += std::string("\t<title>") + AppName + " - " + path + "</title>" + LineEnd;
    s += std::string("\t<style type=\"text/css\">") + LineEnd + "<!--" + LineEnd;
    s += std::string("body { font-family:Arial,sans-serif; }") + LineEnd;
    s += std::string("h1 { font-size:1.2em; }") + LineEnd;
    s += "th { color: " + ColorToHtml(CaptionTextColor) + "; }" + LineEnd;
    s += std::string("td { font-size:0.7em; font-family:Tahoma,Arial,sans-serif; }") + LineEnd;
    s += std::string("table.gauge { empty-cells:show; }") + LineEnd;
    s += std::string("td.gauge { color: #000000; border: 1px solid #E2C25F; "
                     "background-color: #F6E07B; }") +
         LineEnd;
    s += std::string("-->") + LineEnd + "\t</style>" + LineEnd + "</head>" + LineEnd + "<body>" +
         LineEnd;
    s += "<code>" + HtmlCreditLine() + "</code>" + LineEnd;
    s += "<h1>" + path + "</h1>" + LineEnd;
    s += "<table cellpadding=\"3\" cellspacing=\"1\" bgcolor=\"" + ColorToHtml(ActiveBorderColor) +
         "\">" + LineEnd;
    s += "<tr bgcolor=\"" + ColorToHtml(ActiveCaptionColor) + "\"><th>";
    s += HtmlText(Tr("Directory")) + "</th><th>" + HtmlText(Tr("Size")) + "</th><th>" +
         HtmlText(Tr("Percent")) + "</th><th>" + HtmlText(Tr("Files")) + "</th></tr>" + LineEnd;
    WriteString(Stream, s);
}

void THtmlTableExport::WriteNode(const TFileSystemNode& Node, std::ostream& Stream) {
    OddRow = !OddRow;
    const std::int64_t total = Root.GetSize();
    const std::int64_t size = Node.GetSize();
    const double fraction = total > 0 ? double(size) / double(total) : 0.0;
    // nearbyint rounds ties to even in the default rounding mode.
    const auto gauge = static_cast<long long>(std::nearbyint(fraction * 100));
    std::string s = std::string("<tr bgcolor=\"") + (OddRow ? "#FFFFFF" : "#F0F0F0") + "\">";
    s += "<td>" + HtmlText(Node.GetFullPath()) + "</td>";
    s += "<td align=\"right\">" + HtmlText(FormatSize(size)) + "</td>";
    s += "<td><table class=\"gauge\" cellpadding=\"0\" cellspacing=\"0\"><tr>"
         "<td class=\"gauge\" width=\"" +
         std::to_string(gauge) + "\"></td><td>&nbsp;" + HtmlText(FormatPercent(fraction)) +
         "</td></tr></table></td>";
    s += "<td align=\"right\">" + std::to_string(Node.GetFileCount()) + "</td>";
    s += std::string("</tr>") + LineEnd;
    WriteString(Stream, s);
}

void THtmlTableExport::WriteFooter(std::ostream& Stream) {
    WriteString(Stream, std::string("</table>") + LineEnd + "<code>" + HtmlCreditLine() +
                            "</code>" + LineEnd + "</body></html>" + LineEnd);
}

} // namespace qv
