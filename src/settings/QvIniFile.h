#pragma once
// TQvIniFile: the plain ini file the settings live in. Every call reads the file afresh and
// every write goes to disk before it returns; nothing is cached, so two objects on the same
// file (the settings and a working copy of them) always see each other's writes. Read()
// takes one parsed copy for a caller that needs many keys (the preferences), so that the
// file is read and parsed once for them, and all of them come from the same version of it.
//
// Format: "[Section]" lines start sections; "Key=Value" lines inside a section hold the
// values; lines whose first non-blank byte is ';' or '#' are comments. Blanks around section
// names, keys and values do not count. Section and key names compare without regard to
// ASCII case; values come back with their case and bytes. Of two equal keys in a section,
// and of two sections with the same name, the first one that holds the key is read.
// Values are not unquoted (the favourites are stored as a comma text whose double quotes
// matter), with one exception: a write puts single quotes around a value that has blanks at
// either end, which would otherwise be lost, or that has this quoted form itself; on
// reading, a value in single quotes whose text inside them begins or ends with a blank, or
// has this form again, loses that one pair of quotes. So every value written reads back
// exactly, and hand-written values read as they always did unless they have that form.
//
// Size: a file larger than MaxFileSize is refused as a whole: reading gives the defaults
// (Read() says why), and a write throws ESettingsError and leaves it alone. A write whose
// result would be larger throws as well.
//
// Reading never fails: a missing, unreadable or damaged file gives the defaults, and a line
// that is neither of the above (binary garbage, an unterminated "[", a line without "=")
// is skipped. A write keeps every other byte of the file as it was, line ends included,
// and replaces the file in one step (a temporary file beside it, renamed over it), so the
// file is either the old one or the new one, never a half-written one. A write that cannot
// be done throws ESettingsError and leaves the old file untouched.
//
// Threading: an object has no state besides the file name, and a TQvIniSnapshot none that
// changes; calls from several threads are as safe as the file system makes them, but two
// concurrent writers of the same key can lose one of the writes. The program writes from
// the GUI thread only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A settings operation that could not be done: the settings folder cannot be created, or
// the settings file cannot be written or is too large to be read. The message is
// translated and meant for the user.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file's sections and keys as they were when TQvIniFile::Read() read it. The read
// functions behave as those of TQvIniFile on that version of the file.
class TQvIniSnapshot {
public:
    TQvIniSnapshot(); // an empty file

    [[nodiscard]] std::string ReadString(std::string_view Section, std::string_view Key,
                                         std::string_view Default) const;
    [[nodiscard]] int ReadInteger(std::string_view Section, std::string_view Key,
                                  int Default) const;
    [[nodiscard]] std::int64_t ReadInt64(std::string_view Section, std::string_view Key,
                                         std::int64_t Default) const;
    [[nodiscard]] bool SectionExists(std::string_view Section) const;
    [[nodiscard]] bool ValueExists(std::string_view Section, std::string_view Key) const;
    [[nodiscard]] std::vector<std::string> ReadSection(std::string_view Section) const;
    [[nodiscard]] std::vector<std::string> ReadSections() const;

    // Empty, or the message for the user why the file was not read although it exists
    // (it is larger than MaxFileSize). A missing or unreadable file reads as an empty one
    // without a message, as it always has.
    [[nodiscard]] const std::string& Refusal() const noexcept { return FRefusal; }

private:
    friend class TQvIniFile;
    struct TContent;
    std::shared_ptr<const TContent> Content;
    std::string FRefusal;
};

class TQvIniFile {
public:
    // The largest file that is read or written, in bytes: the settings need a few KB, and a
    // file of any size would cost as much memory and time to read on every start.
    static constexpr std::size_t MaxFileSize = std::size_t(4) << 20;

    explicit TQvIniFile(std::string FileName);

    // The file as it is now, read and parsed once.
    [[nodiscard]] TQvIniSnapshot Read() const;

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
    // file. A Value with blanks at either end is stored in single quotes (see above), so
    // that it reads back as written and writing it again changes nothing. Section and
    // Key are stored trimmed. Throws ESettingsError when the file cannot be written or is
    // too large, and
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
