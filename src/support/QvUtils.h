#pragma once
// Small shared functions: folders and paths, strings, rectangles, sets as text, and the
// boolean words of the settings. None of them shows anything or throws; a failure gives an
// empty or default result as each line says.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// --- paths and folders -------------------------------------------------------------------

// Path without its trailing "/"s; "/" itself stays "/".
[[nodiscard]] std::string WithoutTrailingDelimiter(std::string_view Path);

// The directory part of Path up to and with its last "/"; empty when it has none.
[[nodiscard]] std::string DirectoryPart(const std::string& Path);
// Path unchanged when empty or ending in "/", else Path + "/".
[[nodiscard]] std::string AddPathDelimiter(std::string_view Path);

// Folder ids of the user's folders (the values the settings and callers use).
enum TShellFolder : int {
    sfDesktop = 0,
    sfPersonal = 5, // documents
    sfMusic = 13,
    sfVideos = 14,
    sfAppData = 26, // $XDG_CONFIG_HOME
    sfProfile = 40, // home
    sfPictures = 54,
};

// The folder for Id from the XDG user directories, with a trailing "/"; empty for ids
// without a folder here or when the home folder is unknown. The folder may not exist.
[[nodiscard]] std::string GetShellFolderPath(int Id);
// The user's documents folder, or the home folder when that does not exist; trailing "/".
[[nodiscard]] std::string GetPersonalFolder();
// $XDG_CONFIG_HOME (default ~/.config), with a trailing "/".
[[nodiscard]] std::string GetAppDataFolder();

// True when Path names a directory (a symbolic link to one counts).
[[nodiscard]] bool DirectoryExists(const std::string& Path);

// True when Path (a trailing "/" aside) is the mount point of a listed drive.
[[nodiscard]] bool IsDriveRoot(std::string_view Path);

// Removes every entry that lies inside another entry's directory (compared by whole path
// components, with case; of two equal entries the later one goes) and every empty entry;
// keeps the rest in order. Returns the number removed.
int RemoveNestedPaths(std::vector<std::string>& List);

// Deletes every byte of S that occurs in Chars.
void RemoveChars(std::string& S, std::string_view Chars);

// A file name made of S: trimmed, one final "." dropped, every byte that file names on
// common systems cannot hold (control characters and " * / : < > ? \ |) and every byte of
// ExtraChars replaced by ReplaceChar, never two ReplaceChars in a row (dropped when
// ReplaceChar is '\0'). "." and ".." give an empty name.
[[nodiscard]] std::string SanitizeFileName(std::string_view S, char ReplaceChar,
                                           std::string_view ExtraChars = {});

// --- strings -----------------------------------------------------------------------------

// The maximal runs of bytes not in Delimiters; empty runs are left out.
[[nodiscard]] std::vector<std::string> SplitString(std::string_view S, std::string_view Delimiters);
// Token := S up to the first delimiter, S := the rest after it; without a delimiter
// Token := S and S := empty.
void NextToken(std::string& S, std::string_view Delimiters, std::string& Token);
// The text after the first StartMark up to the next EndMark; empty when either is missing.
[[nodiscard]] std::string ExtractBetween(std::string_view S, std::string_view StartMark,
                                         std::string_view EndMark);
// Format with its first "%s" replaced by Arg (translated texts carry one place holder).
[[nodiscard]] std::string FormatText(std::string Format, std::string_view Arg);
// Format with its "%s" place holders replaced by Args in order (a value's own "%s" stays).
[[nodiscard]] std::string FormatText(std::string Format,
                                     std::initializer_list<std::string_view> Args);

// The value of a hexadecimal digit (either case), or -1 for any other character.
[[nodiscard]] int HexDigitValue(char C) noexcept;

// Writes all of Bytes to Fd, going on after short writes and EINTR; false with errno set
// on the first failure.
[[nodiscard]] bool WriteAllBytes(int Fd, std::string_view Bytes) noexcept;
// Length characters, each A-Z or 0-9 with equal chance.
[[nodiscard]] std::string RandomString(int Length);

// --- rectangles --------------------------------------------------------------------------

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

// "left,top,right,bottom".
[[nodiscard]] std::string RectToStr(const TRect& R);
// Four integers separated by ","; Default when any part is not an integer.
[[nodiscard]] TRect StrToRect(std::string_view S, const TRect& Default);
// A Width x Height rectangle centred on a screen of ScreenWidth x ScreenHeight.
[[nodiscard]] TRect CenteredRect(int Width, int Height, int ScreenWidth, int ScreenHeight);

// --- sets as text ------------------------------------------------------------------------

// An enumeration as the settings store its sets: value names in order, and the set's size
// in bytes (1, 2 or 4), which limits the bits that count.
struct TSetType {
    std::span<const char* const> Names;
    int Size = 4;
};

// The names of the values whose bits are set, joined by ","; in "[" "]" when Brackets.
[[nodiscard]] std::string SetToString(const TSetType& Type, std::uint32_t Value, bool Brackets);
// The set named by S: words separated by blanks, "," or "]" after optional blanks and "[".
// Names compare without regard to ASCII case, as the settings files have always been read.
// A word that names no value gives the empty set; an empty S too.
[[nodiscard]] std::uint32_t StringToSet(const TSetType& Type, std::string_view S);

// --- boolean words -----------------------------------------------------------------------

// "True" or "False", the words the settings write.
[[nodiscard]] const char* BoolToStr(bool Value);
// Reads "True"/"Wahr", "False"/"Falsch" (any case) and integers (0 false, else true);
// false when S is none of them.
[[nodiscard]] bool TryStrToBool(std::string_view S, bool& Value);

} // namespace qv
