#pragma once
// TQvIniFile: the plain ini file the settings live in. Every call reads the file afresh and
// every write goes to disk before it returns; nothing is cached, so two objects on the same
// file (the settings and a working copy of them) always see each other's writes.
//
// Format: "[Section]" lines start sections; "Key=Value" lines inside a section hold the
// values; lines whose first non-blank byte is ';' or '#' are comments. Blanks around section
// names, keys and values do not count. Section and key names compare without regard to
// ASCII case; values come back with their case and bytes. Of two equal keys in a section,
// and of two sections with the same name, the first one that holds the key is read.
// Values are never unquoted: the favourites are stored as a comma text whose quotes matter.
//
// Reading never fails: a missing, unreadable or damaged file gives the defaults, and a line
// that is neither of the above (binary garbage, an unterminated "[", a line without "=")
// is skipped. A write keeps every other byte of the file as it was, line ends included,
// and replaces the file in one step (a temporary file beside it, renamed over it), so the
// file is either the old one or the new one, never a half-written one. A write that cannot
// be done throws ESettingsError and leaves the old file untouched.
//
// Threading: an object has no state besides the file name; calls from several threads are
// as safe as the file system makes them, but two concurrent writers of the same key can
// lose one of the writes. The program writes from the GUI thread only.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A settings operation that could not be done: the settings folder cannot be created or
// the settings file cannot be written. The message is translated and meant for the user.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TQvIniFile {
public:
    explicit TQvIniFile(std::string FileName);

    [[nodiscard]] const std::string& FileName() const noexcept { return Name; }

    // The value of Key in Section, or Default when the file, the section or the key is
    // missing. A key that is present with an empty value gives "".
    [[nodiscard]] std::string ReadString(std::string_view Section, std::string_view Key,
                                         std::string_view Default) const;
    // The value as a decimal integer (optional sign); Default when the key is missing or
    // its value is not an integer of the type's range.
    [[nodiscard]] int ReadInteger(std::string_view Section, std::string_view Key,
                                  int Default) const;
    [[nodiscard]] std::int64_t ReadInt64(std::string_view Section, std::string_view Key,
                                         std::int64_t Default) const;

    // Sets Key in Section to Value: the first line of the key gets the new value in place
    // (its spelling of the key and the blanks before the value stay), a missing key is
    // added after the last key of the section, a missing section is added at the end of the
    // file. Blanks around Value are lost on reading, as with every ini file. Section and
    // Key are stored trimmed. Throws ESettingsError when the file cannot be written, and
    // when a name or the value cannot be stored in an ini line: an empty name, a line
    // break anywhere, "]" in a section name, "=" in a key or a key that would read as a
    // comment or a section.
    void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);
    void WriteInteger(std::string_view Section, std::string_view Key, int Value);
    void WriteInt64(std::string_view Section, std::string_view Key, std::int64_t Value);

    [[nodiscard]] bool SectionExists(std::string_view Section) const;
    [[nodiscard]] bool ValueExists(std::string_view Section, std::string_view Key) const;
    // The keys of Section in file order, each once, spelled as at their first occurrence.
    [[nodiscard]] std::vector<std::string> ReadSection(std::string_view Section) const;
    // The section names in file order, each once, spelled as at their first occurrence.
    [[nodiscard]] std::vector<std::string> ReadSections() const;

    // Removes every section named Section with all its lines (comments included). Nothing
    // is written when there is no such section. Throws ESettingsError like WriteString.
    void EraseSection(std::string_view Section);
    // Removes every line of Key in Section, so that no older duplicate surfaces afterwards.
    // Nothing is written when there is no such key. Throws ESettingsError like WriteString.
    void DeleteKey(std::string_view Section, std::string_view Key);

private:
    std::string Name;
};

} // namespace qv
