#include "settings/QvIniFile.h"

#include "platform/DirReader.h"
#include "platform/SysError.h"
#include "support/QvLogger.h"
#include "support/QvUtils.h"
#include "support/Translate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace qv {
namespace {

// Bytes that count as blanks around names and values. NUL is not one of them: a NUL in a
// damaged file is just another byte of whatever it sits in.
bool IsBlank(char C) {
    return C == ' ' || C == '\t' || C == '\r' || C == '\v' || C == '\f';
}

std::string_view Trim(std::string_view S) {
    while (!S.empty() && IsBlank(S.front()))
        S.remove_prefix(1);
    while (!S.empty() && IsBlank(S.back()))
        S.remove_suffix(1);
    return S;
}

bool SameName(std::string_view A, std::string_view B) {
    if (A.size() != B.size())
        return false;
    for (std::size_t i = 0; i < A.size(); ++i) {
        char a = A[i];
        char b = B[i];
        if (a >= 'A' && a <= 'Z')
            a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = char(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

std::string AsciiLower(std::string_view S) {
    std::string lower(S);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

enum class TLineKind { Other, Section, Key };

// One section or key line of the file as offsets into the text, so that a write can splice
// the text without touching any other byte. Other lines are not kept: a file of millions
// of blank or comment lines must not cost a record for each.
struct TLine {
    TLineKind Kind = TLineKind::Other;
    std::size_t Begin = 0;      // first byte of the line
    std::size_t End = 0;        // end of the content, before "\n" or "\r\n"
    std::size_t Next = 0;       // first byte of the next line
    std::string_view Name;      // section name or key, trimmed
    std::size_t ValueBegin = 0; // key lines: the value after "=" and its leading blanks
};

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

TLine ParseLine(std::string_view Text, std::size_t Begin, std::size_t End, std::size_t Next) {
    TLine line;
    line.Begin = Begin;
    line.End = End;
    line.Next = Next;
    std::size_t start = Begin;
    // Editors from other systems like to start a file with a byte order mark; it must not
    // hide the first section header.
    if (Begin == 0 && Text.substr(0, End).starts_with(ByteOrderMark))
        start += ByteOrderMark.size();
    while (start < End && IsBlank(Text[start]))
        ++start;
    if (start == End || Text[start] == ';' || Text[start] == '#')
        return line;
    const std::string_view content = Text.substr(start, End - start);
    if (content.front() == '[') {
        // Even a header without "]" or with an empty name starts a new section, so that
        // the keys below it never slip into the section before.
        const std::size_t close = content.find(']');
        line.Kind = TLineKind::Section;
        line.Name = Trim(content.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                           : close - 1));
        return line;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos)
        return line;
    line.Name = Trim(content.substr(0, equals));
    if (line.Name.empty())
        return line;
    line.Kind = TLineKind::Key;
    line.ValueBegin = start + equals + 1;
    while (line.ValueBegin < End && IsBlank(Text[line.ValueBegin]))
        ++line.ValueBegin;
    return line;
}

std::vector<TLine> ParseLines(std::string_view Text) {
    std::vector<TLine> lines;
    std::size_t pos = 0;
    while (pos < Text.size()) {
        const std::size_t newline = Text.find('\n', pos);
        std::size_t end = newline == std::string_view::npos ? Text.size() : newline;
        const std::size_t next = newline == std::string_view::npos ? Text.size() : newline + 1;
        if (newline != std::string_view::npos && end > pos && Text[end - 1] == '\r')
            --end;
        if (TLine line = ParseLine(Text, pos, end, next); line.Kind != TLineKind::Other)
            lines.push_back(line);
        pos = next;
    }
    return lines;
}

// Whether a trimmed value is a value that a write put in single quotes: quoted, and the
// text inside has a blank at either end or is quoted that way again. Checked level by level
// rather than recursively, so that a line of a million quotes cannot exhaust the stack.
bool IsQuotedValue(std::string_view S) {
    const std::size_t n = S.size();
    for (std::size_t k = 1; 2 * k < n && S[k - 1] == '\'' && S[n - k] == '\''; ++k)
        if (IsBlank(S[k]) || IsBlank(S[n - k - 1]))
            return true;
    return false;
}

std::string_view ValueOf(std::string_view Text, const TLine& Line) {
    const std::string_view value = Trim(Text.substr(Line.ValueBegin, Line.End - Line.ValueBegin));
    return IsQuotedValue(value) ? value.substr(1, value.size() - 2) : value;
}

// Value as a line holds it, so that ValueOf gives Value back.
std::string StoredValue(std::string_view Value) {
    const bool blankEnds = !Value.empty() && (IsBlank(Value.front()) || IsBlank(Value.back()));
    if (!blankEnds && !IsQuotedValue(Value))
        return std::string(Value);
    return "'" + std::string(Value) + "'";
}

// Calls Visit for every key line inside a section named Section, in file order, until Visit
// returns false. Keys above the first header belong to no section and are never visited.
template <class TVisit>
void ForEachKeyIn(const std::vector<TLine>& Lines, std::string_view Section, TVisit Visit) {
    bool inside = false;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        const TLine& line = Lines[i];
        if (line.Kind == TLineKind::Section)
            inside = SameName(line.Name, Section);
        else if (inside && line.Kind == TLineKind::Key && !Visit(i))
            return;
    }
}

// The file's bytes. Returns 0, or the errno of the failure; only a regular file is read,
// so that a FIFO or a device put in place of the settings file cannot block the program,
// and only up to the size limit (EFBIG beyond it), so that a huge or sparse file costs
// neither the time nor the memory of reading it.
int ReadWholeFile(const std::string& Path, std::string& Text) {
    Text.clear();
    TFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid())
        return errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (st.st_size > off_t(TQvIniFile::MaxFileSize))
        return EFBIG;
    if (st.st_size > 0)
        Text.reserve(std::size_t(st.st_size));
    char buffer[65536];
    // One byte past the limit tells a file that grew since fstat from one that did not.
    while (Text.size() <= TQvIniFile::MaxFileSize) {
        const std::size_t wanted =
            std::min(sizeof buffer, TQvIniFile::MaxFileSize + 1 - Text.size());
        const ssize_t n = ::read(fd.Get(), buffer, wanted);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            Text.clear();
            return error;
        }
        if (n == 0)
            return 0;
        Text.append(buffer, std::size_t(n));
    }
    Text.clear();
    return EFBIG;
}

// Every read of a refused file would repeat the same message; once per file is enough.
void LogRefusalOnce(const std::string& Name, const std::string& Message) {
    static std::mutex lock;
    static std::set<std::string> logged;
    std::lock_guard guard(lock);
    if (logged.insert(Name).second)
        LogError(Message);
}

std::string FormatWithArgs(std::string Format, std::initializer_list<std::string_view> Args) {
    std::size_t pos = 0;
    for (std::string_view arg : Args) {
        pos = Format.find("%s", pos);
        if (pos == std::string::npos) {
            Format.append(" ").append(arg);
            pos = Format.size();
            continue;
        }
        Format.replace(pos, 2, arg);
        pos += arg.size();
    }
    return Format;
}

[[noreturn]] void ThrowWriteError(const std::string& Path, int Error) {
    throw ESettingsError(FormatWithArgs(Tr("Cannot write the settings file “%s”: %s"),
                                        {Path, SysErrorMessage(Error)}));
}

std::string TooLargeMessage(const std::string& Path) {
    return FormatWithArgs(Tr("The settings file “%s” is larger than 4 MiB and is not read."),
                          {Path});
}

// The file a write has to replace: the target of a symbolic link, so that a settings file
// linked from elsewhere (a dotfiles folder) stays linked.
std::string WriteTarget(const std::string& Path) {
    struct stat st;
    if (::lstat(Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return Path;
    char* resolved = ::realpath(Path.c_str(), nullptr);
    if (!resolved)
        return Path;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

// Puts Text in place of the file Path in one rename, so that a crash or a full disk leaves
// either the old or the new file. Returns 0 or the errno of the step that failed; nothing
// of the attempt is left behind then.
int ReplaceFile(const std::string& Path, std::string_view Text) {
    const std::size_t slash = Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : Path.substr(0, slash);
    const std::string base = slash == std::string::npos ? Path : Path.substr(slash + 1);

    struct stat old;
    const bool exists = ::stat(Path.c_str(), &old) == 0;
    // The rename would replace a file that the user made read-only without needing write
    // access to it: ask for that access, as writing in place would have.
    if (exists && ::faccessat(AT_FDCWD, Path.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;

    std::string temp;
    TFd fd;
    for (int attempt = 0; attempt < 100 && !fd.Valid(); ++attempt) {
        temp = (dir == "/" ? "" : dir) + "/." + base + "." + RandomString(8) + ".tmp";
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        exists ? (old.st_mode & 0777) : 0666));
        if (!fd.Valid() && errno != EEXIST)
            return errno;
    }
    if (!fd.Valid())
        return EEXIST;

    int error = 0;
    if (exists) {
        // The umask may have taken bits off; the file keeps its owner where we may set it.
        ::fchmod(fd.Get(), old.st_mode & 07777);
        struct stat created;
        if (::fstat(fd.Get(), &created) == 0 &&
            (created.st_uid != old.st_uid || created.st_gid != old.st_gid) &&
            ::fchown(fd.Get(), old.st_uid, old.st_gid) != 0)
            LogDebug("Settings file " + Path + " changes its owner: " + SysErrorMessage(errno));
    }
    if (!WriteAllBytes(fd.Get(), Text) || ::fsync(fd.Get()) != 0)
        error = errno;
    if (::close(fd.Release()) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), Path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    // Makes the rename itself durable; a failure here cannot undo what is already done.
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Valid())
        ::fsync(dirFd.Get());
    return 0;
}

// Reads the file, lets Change edit its text and writes the result back when it differs.
// A file that exists but cannot be read is never written: the write would lose its lines.
void ModifyFile(const std::string& Name, const std::function<void(std::string&)>& Change) {
    const std::string path = WriteTarget(Name);
    std::string text;
    if (const int error = ReadWholeFile(path, text); error == EFBIG)
        throw ESettingsError(TooLargeMessage(Name));
    else if (error != 0 && error != ENOENT)
        ThrowWriteError(Name, error);
    std::string changed = text;
    Change(changed);
    if (changed == text)
        return;
    // A file the next start would refuse to read is not worth writing.
    if (changed.size() > TQvIniFile::MaxFileSize)
        ThrowWriteError(Name, EFBIG);
    if (const int error = ReplaceFile(path, changed); error != 0)
        ThrowWriteError(Name, error);
}

// The line end of the file: the one its first line uses, "\n" for a file without lines.
std::string_view LineEndOf(std::string_view Text) {
    const std::size_t newline = Text.find('\n');
    return newline != std::string_view::npos && newline > 0 && Text[newline - 1] == '\r'
               ? std::string_view("\r\n")
               : std::string_view("\n");
}

bool HasLineBreak(std::string_view S) {
    return S.find_first_of("\r\n") != std::string_view::npos;
}

bool IsStorableSection(std::string_view Section) {
    return !Section.empty() && !HasLineBreak(Section) && Section.find(']') == std::string::npos;
}

bool IsStorableKey(std::string_view Key) {
    return !Key.empty() && !HasLineBreak(Key) && Key.find('=') == std::string::npos &&
           Key.front() != ';' && Key.front() != '#' && Key.front() != '[';
}

bool LastLineIsBlank(std::string_view Text) {
    Text.remove_suffix(1); // the "\n" that ends the text
    const std::size_t newline = Text.rfind('\n');
    return Trim(newline == std::string_view::npos ? Text : Text.substr(newline + 1)).empty();
}

void SetValue(std::string& Text, std::string_view Section, std::string_view Key,
              std::string_view Value) {
    const std::vector<TLine> lines = ParseLines(Text);
    const std::string_view lineEnd = LineEndOf(Text);
    const std::string stored = StoredValue(Value);
    const std::string entry = std::string(Key) + "=" + stored;

    bool replaced = false;
    ForEachKeyIn(lines, Section, [&](std::size_t i) {
        if (!SameName(lines[i].Name, Key))
            return true;
        // From the first byte after the blanks that follow "=": the blanks were never part
        // of the value, and a stored value never starts with one.
        Text.replace(lines[i].ValueBegin, lines[i].End - lines[i].ValueBegin, stored);
        replaced = true;
        return false;
    });
    if (replaced)
        return;

    // A new key goes below the last key of the first section of that name, ahead of the
    // blank lines and comments that lead over to the next section.
    std::size_t header = 0;
    while (header < lines.size() &&
           (lines[header].Kind != TLineKind::Section || !SameName(lines[header].Name, Section)))
        ++header;
    if (header < lines.size()) {
        std::size_t after = header;
        for (std::size_t i = header + 1; i < lines.size(); ++i) {
            if (lines[i].Kind == TLineKind::Section)
                break;
            if (lines[i].Kind == TLineKind::Key)
                after = i;
        }
        const TLine& line = lines[after];
        if (line.Next == line.End) // the last line, without a line end
            Text.insert(line.Next, std::string(lineEnd) + entry);
        else
            Text.insert(line.Next, entry + std::string(lineEnd));
        return;
    }

    if (!Text.empty() && Text.back() != '\n')
        Text += lineEnd;
    if (!Text.empty() && !LastLineIsBlank(Text))
        Text += lineEnd;
    Text.append("[").append(Section).append("]").append(lineEnd);
    Text.append(entry).append(lineEnd);
}

template <class TNumber> bool ParseNumber(std::string_view S, TNumber& Value) {
    S = Trim(S);
    if (S.starts_with('+') && S.size() > 1 && S[1] != '-')
        S.remove_prefix(1);
    const auto [end, error] = std::from_chars(S.data(), S.data() + S.size(), Value);
    return !S.empty() && error == std::errc() && end == S.data() + S.size();
}

} // namespace

struct TQvIniSnapshot::TContent {
    std::string Text;
    std::vector<TLine> Lines; // point into Text, which never changes
};

TQvIniSnapshot::TQvIniSnapshot() : Content(std::make_shared<const TContent>()) {}

std::string TQvIniSnapshot::ReadString(std::string_view Section, std::string_view Key,
                                       std::string_view Default) const {
    Section = Trim(Section);
    Key = Trim(Key);
    const std::vector<TLine>& lines = Content->Lines;
    std::string result(Default);
    ForEachKeyIn(lines, Section, [&](std::size_t i) {
        if (!SameName(lines[i].Name, Key))
            return true;
        result = ValueOf(Content->Text, lines[i]);
        return false;
    });
    return result;
}

int TQvIniSnapshot::ReadInteger(std::string_view Section, std::string_view Key, int Default) const {
    int value = 0;
    return ParseNumber(ReadString(Section, Key, ""), value) ? value : Default;
}

std::int64_t TQvIniSnapshot::ReadInt64(std::string_view Section, std::string_view Key,
                                       std::int64_t Default) const {
    std::int64_t value = 0;
    return ParseNumber(ReadString(Section, Key, ""), value) ? value : Default;
}

bool TQvIniSnapshot::SectionExists(std::string_view Section) const {
    Section = Trim(Section);
    for (const TLine& line : Content->Lines)
        if (line.Kind == TLineKind::Section && SameName(line.Name, Section))
            return true;
    return false;
}

bool TQvIniSnapshot::ValueExists(std::string_view Section, std::string_view Key) const {
    Section = Trim(Section);
    Key = Trim(Key);
    const std::vector<TLine>& lines = Content->Lines;
    bool found = false;
    ForEachKeyIn(lines, Section, [&](std::size_t i) {
        found = SameName(lines[i].Name, Key);
        return !found;
    });
    return found;
}

// The lists below remember the names seen in a hash set: a file may hold a million keys.
std::vector<std::string> TQvIniSnapshot::ReadSection(std::string_view Section) const {
    Section = Trim(Section);
    const std::vector<TLine>& lines = Content->Lines;
    std::vector<std::string> keys;
    std::unordered_set<std::string> seen;
    ForEachKeyIn(lines, Section, [&](std::size_t i) {
        if (seen.insert(AsciiLower(lines[i].Name)).second)
            keys.emplace_back(lines[i].Name);
        return true;
    });
    return keys;
}

std::vector<std::string> TQvIniSnapshot::ReadSections() const {
    std::vector<std::string> sections;
    std::unordered_set<std::string> seen;
    for (const TLine& line : Content->Lines)
        if (line.Kind == TLineKind::Section && seen.insert(AsciiLower(line.Name)).second)
            sections.emplace_back(line.Name);
    return sections;
}

TQvIniFile::TQvIniFile(std::string FileName) : Name(std::move(FileName)) {}

TQvIniSnapshot TQvIniFile::Read() const {
    auto content = std::make_shared<TQvIniSnapshot::TContent>();
    TQvIniSnapshot snapshot;
    if (const int error = ReadWholeFile(Name, content->Text); error == EFBIG) {
        snapshot.FRefusal = TooLargeMessage(Name);
        LogRefusalOnce(Name, snapshot.FRefusal);
    } else if (error != 0 && error != ENOENT) {
        // An unreadable file reads like an empty one.
        LogDebug("Settings file " + Name + " unreadable: " + SysErrorMessage(error));
    }
    content->Lines = ParseLines(content->Text);
    snapshot.Content = std::move(content);
    return snapshot;
}

std::string TQvIniFile::ReadString(std::string_view Section, std::string_view Key,
                                   std::string_view Default) const {
    return Read().ReadString(Section, Key, Default);
}

int TQvIniFile::ReadInteger(std::string_view Section, std::string_view Key, int Default) const {
    return Read().ReadInteger(Section, Key, Default);
}

std::int64_t TQvIniFile::ReadInt64(std::string_view Section, std::string_view Key,
                                   std::int64_t Default) const {
    return Read().ReadInt64(Section, Key, Default);
}

bool TQvIniFile::SectionExists(std::string_view Section) const {
    return Read().SectionExists(Section);
}

bool TQvIniFile::ValueExists(std::string_view Section, std::string_view Key) const {
    return Read().ValueExists(Section, Key);
}

std::vector<std::string> TQvIniFile::ReadSection(std::string_view Section) const {
    return Read().ReadSection(Section);
}

std::vector<std::string> TQvIniFile::ReadSections() const {
    return Read().ReadSections();
}

void TQvIniFile::WriteString(std::string_view Section, std::string_view Key,
                             std::string_view Value) {
    Section = Trim(Section);
    Key = Trim(Key);
    if (!IsStorableSection(Section) || !IsStorableKey(Key) || HasLineBreak(Value))
        ThrowWriteError(Name, EINVAL);
    ModifyFile(Name, [&](std::string& Text) { SetValue(Text, Section, Key, Value); });
}

void TQvIniFile::WriteInteger(std::string_view Section, std::string_view Key, int Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void TQvIniFile::WriteInt64(std::string_view Section, std::string_view Key, std::int64_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void TQvIniFile::EraseSection(std::string_view Section) {
    Section = Trim(Section);
    ModifyFile(Name, [&](std::string& Text) {
        // A section reaches from its header to the next header, whatever lies between.
        std::string kept;
        kept.reserve(Text.size());
        std::size_t keptFrom = 0;
        bool erasing = false;
        for (const TLine& line : ParseLines(Text)) {
            if (line.Kind != TLineKind::Section || SameName(line.Name, Section) == erasing)
                continue;
            if (erasing)
                keptFrom = line.Begin;
            else
                kept.append(Text, keptFrom, line.Begin - keptFrom);
            erasing = !erasing;
        }
        if (!erasing)
            kept.append(Text, keptFrom);
        Text = std::move(kept);
    });
}

void TQvIniFile::DeleteKey(std::string_view Section, std::string_view Key) {
    Section = Trim(Section);
    Key = Trim(Key);
    ModifyFile(Name, [&](std::string& Text) {
        const std::vector<TLine> lines = ParseLines(Text);
        std::string kept;
        kept.reserve(Text.size());
        std::size_t keptFrom = 0;
        ForEachKeyIn(lines, Section, [&](std::size_t i) {
            if (SameName(lines[i].Name, Key)) {
                kept.append(Text, keptFrom, lines[i].Begin - keptFrom);
                keptFrom = lines[i].Next;
            }
            return true;
        });
        kept.append(Text, keptFrom);
        Text = std::move(kept);
    });
}

} // namespace qv
