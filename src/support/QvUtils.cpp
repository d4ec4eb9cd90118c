#include "support/QvUtils.h"

#include "platform/Drives.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string EnvOr(const char* Name, const std::string& Fallback) {
    const char* value = std::getenv(Name);
    // Relative values are invalid by the XDG rules and are ignored.
    return value && value[0] == '/' ? std::string(value) : Fallback;
}

// The value of KEY="..." in user-dirs.dirs, with $HOME expanded; empty when not set.
std::string UserDir(const std::string& Key, const std::string& Home) {
    std::ifstream file(EnvOr("XDG_CONFIG_HOME", Home + "/.config") + "/user-dirs.dirs");
    std::string line;
    while (std::getline(file, line)) {
        if (!line.starts_with(Key + "=\""))
            continue;
        std::string value = line.substr(Key.size() + 2);
        const std::size_t quote = value.rfind('"');
        if (quote == std::string::npos)
            return {};
        value.resize(quote);
        if (value.starts_with("$HOME"))
            value = Home + value.substr(5);
        return value.starts_with("/") ? value : std::string();
    }
    return {};
}

bool IsDirectory(const std::string& Path) {
    struct stat st;
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EqualsIgnoringAsciiCase(std::string_view A, std::string_view B) {
    if (A.size() != B.size())
        return false;
    for (std::size_t i = 0; i < A.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(A[i])) !=
            std::tolower(static_cast<unsigned char>(B[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view S) {
    // Control characters and blanks, as a trim of a file name has always removed.
    while (!S.empty() && static_cast<unsigned char>(S.front()) <= ' ')
        S.remove_prefix(1);
    while (!S.empty() && static_cast<unsigned char>(S.back()) <= ' ')
        S.remove_suffix(1);
    return S;
}

} // namespace

std::string WithoutTrailingDelimiter(std::string_view Path) {
    while (Path.size() > 1 && Path.back() == '/')
        Path.remove_suffix(1);
    return std::string(Path);
}

std::string AddPathDelimiter(std::string_view Path) {
    std::string result(Path);
    if (!result.empty() && result.back() != '/')
        result += '/';
    return result;
}

std::string GetShellFolderPath(int Id) {
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    std::string path;
    switch (Id) {
    case sfDesktop:
        path = UserDir("XDG_DESKTOP_DIR", home);
        if (path.empty())
            path = home + "/Desktop";
        break;
    case sfPersonal:
        path = UserDir("XDG_DOCUMENTS_DIR", home);
        if (path.empty())
            path = home + "/Documents";
        break;
    case sfMusic:
        path = UserDir("XDG_MUSIC_DIR", home);
        if (path.empty())
            path = home + "/Music";
        break;
    case sfVideos:
        path = UserDir("XDG_VIDEOS_DIR", home);
        if (path.empty())
            path = home + "/Videos";
        break;
    case sfPictures:
        path = UserDir("XDG_PICTURES_DIR", home);
        if (path.empty())
            path = home + "/Pictures";
        break;
    case sfAppData:
        path = EnvOr("XDG_CONFIG_HOME", home + "/.config");
        break;
    case sfProfile:
        path = home;
        break;
    default:
        return {};
    }
    return AddPathDelimiter(path);
}

std::string GetPersonalFolder() {
    const std::string documents = GetShellFolderPath(sfPersonal);
    if (!documents.empty() && IsDirectory(documents))
        return documents;
    return GetShellFolderPath(sfProfile);
}

std::string GetAppDataFolder() {
    return GetShellFolderPath(sfAppData);
}

bool IsDriveRoot(std::string_view Path) {
    const std::string path = WithoutTrailingDelimiter(Path);
    return !path.empty() && IsDriveMountPoint(path);
}

int RemoveNestedPaths(std::vector<std::string>& List) {
    std::vector<std::string> withDelimiter;
    withDelimiter.reserve(List.size());
    for (const std::string& path : List)
        withDelimiter.push_back(AddPathDelimiter(path));

    std::vector<bool> remove(List.size(), false);
    for (std::size_t i = 0; i < List.size(); ++i) {
        if (List[i].empty()) {
            remove[i] = true;
            continue;
        }
        for (std::size_t j = 0; j < List.size() && !remove[i]; ++j) {
            if (i == j || List[j].empty() || remove[j])
                continue;
            if (!withDelimiter[i].starts_with(withDelimiter[j]))
                continue;
            // Inside another entry; of two equal entries only the later one goes.
            if (withDelimiter[i].size() > withDelimiter[j].size() || j < i)
                remove[i] = true;
        }
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < List.size(); ++i)
        if (!remove[i])
            kept.push_back(std::move(List[i]));
    const int removed = int(List.size() - kept.size());
    List = std::move(kept);
    return removed;
}

void RemoveChars(std::string& S, std::string_view Chars) {
    std::erase_if(S, [&](char c) { return Chars.find(c) != std::string_view::npos; });
}

std::string SanitizeFileName(std::string_view S, char ReplaceChar, std::string_view ExtraChars) {
    S = Trim(S);
    if (!S.empty() && S.back() == '.')
        S.remove_suffix(1);
    constexpr std::string_view Invalid = "\"*/:<>?\\|";
    std::string result;
    result.reserve(S.size());
    for (char c : S) {
        const bool bad = static_cast<unsigned char>(c) < 32 ||
                         Invalid.find(c) != std::string_view::npos ||
                         ExtraChars.find(c) != std::string_view::npos;
        if (!bad)
            result += c;
        else if (ReplaceChar != '\0' && (result.empty() || result.back() != ReplaceChar))
            result += ReplaceChar;
    }
    if (result == "." || result == "..")
        result.clear();
    return result;
}

std::vector<std::string> SplitString(std::string_view S, std::string_view Delimiters) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < S.size()) {
        const std::size_t start = S.find_first_not_of(Delimiters, pos);
        if (start == std::string_view::npos)
            break;
        std::size_t end = S.find_first_of(Delimiters, start);
        if (end == std::string_view::npos)
            end = S.size();
        parts.emplace_back(S.substr(start, end - start));
        pos = end;
    }
    return parts;
}

void NextToken(std::string& S, std::string_view Delimiters, std::string& Token) {
    const std::size_t at = S.find_first_of(Delimiters);
    if (at == std::string::npos) {
        Token = std::move(S);
        S.clear();
        return;
    }
    Token = S.substr(0, at);
    S.erase(0, at + 1);
}

std::string ExtractBetween(std::string_view S, std::string_view StartMark,
                           std::string_view EndMark) {
    const std::size_t start = S.find(StartMark);
    if (start == std::string_view::npos)
        return {};
    const std::size_t from = start + StartMark.size();
    const std::size_t end = S.find(EndMark, from);
    if (end == std::string_view::npos)
        return {};
    return std::string(S.substr(from, end - from));
}

std::string RandomString(int Length) {
    static constexpr char Symbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 35);
    std::string result;
    for (int i = 0; i < Length; ++i)
        result += Symbols[pick(engine)];
    return result;
}

std::string RectToStr(const TRect& R) {
    return std::to_string(R.Left) + "," + std::to_string(R.Top) + "," + std::to_string(R.Right) +
           "," + std::to_string(R.Bottom);
}

TRect StrToRect(std::string_view S, const TRect& Default) {
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = S.find(',');
        if ((i < 3) != (comma != std::string_view::npos))
            return Default;
        std::string_view part = Trim(S.substr(0, comma));
        if (!part.empty() && part.front() == '+')
            part.remove_prefix(1);
        const auto [end, error] =
            std::from_chars(part.data(), part.data() + part.size(), values[i]);
        if (error != std::errc() || end != part.data() + part.size() || part.empty())
            return Default;
        S = i < 3 ? S.substr(comma + 1) : std::string_view();
    }
    return {values[0], values[1], values[2], values[3]};
}

TRect CenteredRect(int Width, int Height, int ScreenWidth, int ScreenHeight) {
    // In 64 bits, where no difference or sum of two ints can overflow. The exact results
    // always fit an int (each is about half of such a sum); the clamp only states that.
    const auto fit = [](std::int64_t V) {
        return int(std::clamp<std::int64_t>(V, std::numeric_limits<int>::min(),
                                            std::numeric_limits<int>::max()));
    };
    // Toward zero, also for a small screen.
    const std::int64_t left = (std::int64_t(ScreenWidth) - Width) / 2;
    const std::int64_t top = (std::int64_t(ScreenHeight) - Height) / 2;
    return {fit(left), fit(top), fit(left + Width), fit(top + Height)};
}

std::string SetToString(const TSetType& Type, std::uint32_t Value, bool Brackets) {
    if (Type.Size < 4)
        Value &= (std::uint32_t(1) << (8 * Type.Size)) - 1;
    std::string text;
    for (std::size_t bit = 0; bit < 32 && bit < Type.Names.size(); ++bit)
        if (Value & (std::uint32_t(1) << bit)) {
            if (!text.empty())
                text += ',';
            text += Type.Names[bit];
        }
    return Brackets ? "[" + text + "]" : text;
}

std::uint32_t StringToSet(const TSetType& Type, std::string_view S) {
    std::size_t pos = 0;
    while (pos < S.size() && (S[pos] == ' ' || S[pos] == '['))
        ++pos;
    std::uint32_t result = 0;
    for (const std::string& word : SplitString(S.substr(pos), " ,]")) {
        std::size_t index = 0;
        while (index < Type.Names.size() && !EqualsIgnoringAsciiCase(word, Type.Names[index]))
            ++index;
        if (index == Type.Names.size())
            return 0; // one unknown word spoils the whole set
        if (index < 32)
            result |= std::uint32_t(1) << index;
    }
    if (Type.Size < 4)
        result &= (std::uint32_t(1) << (8 * Type.Size)) - 1;
    return result;
}

const char* BoolToStr(bool Value) {
    return Value ? "True" : "False";
}

bool TryStrToBool(std::string_view S, bool& Value) {
    S = Trim(S);
    for (const char* word : {"True", "Wahr"})
        if (EqualsIgnoringAsciiCase(S, word)) {
            Value = true;
            return true;
        }
    for (const char* word : {"False", "Falsch"})
        if (EqualsIgnoringAsciiCase(S, word)) {
            Value = false;
            return true;
        }
    long long number = 0;
    const auto [end, error] = std::from_chars(S.data(), S.data() + S.size(), number);
    if (S.empty() || error != std::errc() || end != S.data() + S.size())
        return false;
    Value = number != 0;
    return true;
}

std::string DirectoryPart(const std::string& Path) {
    const auto Slash = Path.rfind('/');
    return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

std::string FormatText(std::string Format, std::string_view Arg) {
    if (const auto At = Format.find("%s"); At != std::string::npos) {
        Format.replace(At, 2, Arg);
    }
    return Format;
}

std::string FormatText(std::string Format, std::initializer_list<std::string_view> Args) {
    std::size_t From = 0;
    for (std::string_view Arg : Args) {
        const auto At = Format.find("%s", From);
        if (At == std::string::npos) {
            break;
        }
        Format.replace(At, 2, Arg);
        From = At + Arg.size();
    }
    return Format;
}

bool WriteAllBytes(int Fd, std::string_view Bytes) noexcept {
    while (!Bytes.empty()) {
        const ssize_t n = ::write(Fd, Bytes.data(), Bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        Bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

int HexDigitValue(char C) noexcept {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

bool DirectoryExists(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace qv
