#include "support/Translate.h"

#include "support/QvLogger.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <unordered_map>

#ifndef QV_INSTALL_PREFIX
#define QV_INSTALL_PREFIX "/usr/local"
#endif

namespace qv {
namespace {

namespace fs = std::filesystem;

constexpr const char* CatalogDomain = "default";

// Looks keys up by std::string_view, so that Tr makes no string to find one.
struct TTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view Text) const noexcept {
        return std::hash<std::string_view>()(Text);
    }
};
using TTexts = std::unordered_map<std::string, std::string, TTextHash, std::equal_to<>>;

// One language's catalog. It never changes once published, so a thread that took it in Tr
// can go on reading it while a switch publishes the next one.
struct TCatalog {
    std::string Language;
    TTexts Texts; // key -> its translation in UTF-8; only keys that have one
};

std::mutex StateLock;                    // guards Current and CustomFolders
std::shared_ptr<const TCatalog> Current; // null while no language was chosen
std::vector<std::string> CustomFolders;  // set by tests; empty: the program's own folders

// One switch at a time, so that of two racing switches the later one wins.
std::mutex SwitchLock;

// Codes end up as path components: anything but letters, digits, "_" and "-" could leave
// the catalog folder, so such a code never names a catalog.
bool IsLanguageCode(std::string_view Code) {
    return !Code.empty() && Code.size() <= 32 && std::all_of(Code.begin(), Code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

// "de_DE.UTF-8@euro" -> "de_DE"; the C locale's names -> "en".
std::string NormaliseCode(std::string_view Code) {
    Code = Code.substr(0, Code.find_first_of(".@"));
    if (Code == "C" || Code == "POSIX")
        return "en";
    return std::string(Code);
}

std::vector<std::string> ProgramCatalogFolders() {
    std::vector<std::string> folders;
    const auto add = [&folders](std::string Folder) {
        if (std::find(folders.begin(), folders.end(), Folder) == folders.end())
            folders.push_back(std::move(Folder));
    };
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        add((exe.parent_path() / "locale").string());
        // <prefix>/bin/quorvel beside <prefix>/share: an installed program finds its
        // catalogs under any prefix, also one staged with DESTDIR and moved since.
        add((exe.parent_path().parent_path() / "share/quorvel/locale").string());
    }
    add(QV_INSTALL_PREFIX "/share/quorvel/locale");
    return folders;
}

// The whole file, or nothing when there is no such file or it cannot be read. A catalog is
// small; anything huge is not one and is not read.
std::optional<std::vector<char>> ReadCatalogFile(const std::string& Path) {
    std::error_code error;
    if (!fs::is_regular_file(Path, error))
        return std::nullopt;
    const std::uintmax_t size = fs::file_size(Path, error);
    if (error || size > 64u * 1024 * 1024) {
        LogError("Message catalog " + Path + " is too large or unreadable");
        return std::nullopt;
    }
    std::ifstream in(Path, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        LogError("Message catalog " + Path + " cannot be read");
        return std::nullopt;
    }
    return data;
}

// Why the .mo image is unusable, or nullptr when it is sound. ReadMoImage trusts the
// offsets in the file (it reads strings up to their NUL), so only an image checked here is
// handed to it. The hash table is not used, but a damaged one still marks a damaged file.
const char* MoImageProblem(const std::vector<char>& Data) {
    const std::uint64_t size = Data.size();
    if (size < 28)
        return "it is too short";
    const auto* bytes = reinterpret_cast<const unsigned char*>(Data.data());
    const bool littleEndian =
        bytes[0] == 0xde && bytes[1] == 0x12 && bytes[2] == 0x04 && bytes[3] == 0x95;
    const bool bigEndian =
        bytes[0] == 0x95 && bytes[1] == 0x04 && bytes[2] == 0x12 && bytes[3] == 0xde;
    if (!littleEndian && !bigEndian)
        return "it is not a .mo file";
    // Callers only ask for words inside the image.
    const auto word = [&](std::uint64_t At) -> std::uint64_t {
        const unsigned char* p = bytes + At;
        if (littleEndian)
            return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
        return p[3] | (p[2] << 8) | (p[1] << 16) | (std::uint32_t(p[0]) << 24);
    };
    if ((word(4) >> 16) > 1)
        return "its format revision is unknown";
    const std::uint64_t count = word(8);
    const std::uint64_t keys = word(12);
    const std::uint64_t values = word(16);
    const std::uint64_t hashSize = word(20);
    const std::uint64_t hashes = word(24);
    if (count == 0)
        return "it has no header entry";
    if (keys + 8 * count > size || values + 8 * count > size)
        return "its string tables lie outside the file";
    for (const std::uint64_t table : {keys, values}) {
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t length = word(table + 8 * i);
            const std::uint64_t offset = word(table + 8 * i + 4);
            if (offset + length >= size || bytes[offset + length] != 0)
                return "a string lies outside the file or is not terminated";
        }
    }
    if (hashSize != 0) {
        if (hashSize <= 2 || hashes + 4 * hashSize > size)
            return "its hash table is damaged";
        for (std::uint64_t i = 0; i < hashSize; ++i)
            if (word(hashes + 4 * i) > count)
                return "its hash table points outside the strings";
    }
    return nullptr;
}

// Converts Text from the catalog's character set to UTF-8; false when it is not valid there.
bool ToUtf8(iconv_t Converter, std::string& Text) {
    std::string result(Text.size() * 4 + 4, '\0');
    char* in = Text.data();
    std::size_t inLeft = Text.size();
    char* out = result.data();
    std::size_t outLeft = result.size();
    ::iconv(Converter, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(Converter, &in, &inLeft, &out, &outLeft) == std::size_t(-1) ||
        ::iconv(Converter, nullptr, nullptr, &out, &outLeft) == std::size_t(-1))
        return false;
    result.resize(result.size() - outLeft);
    Text = std::move(result);
    return true;
}

// Fills Texts from an image that MoImageProblem found sound: each key without a context,
// with the first form of its translation, both in UTF-8. Returns why the image cannot be
// used, or nullptr.
const char* ReadMoImage(const std::vector<char>& Data, TTexts& Texts) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(Data.data());
    const bool littleEndian = bytes[0] == 0xde;
    const auto word = [&](std::uint64_t At) -> std::uint32_t {
        const unsigned char* p = bytes + At;
        if (littleEndian)
            return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
        return p[3] | (p[2] << 8) | (p[1] << 16) | (std::uint32_t(p[0]) << 24);
    };
    const std::uint32_t count = word(8);
    // Up to the first NUL: a key's plural and a translation's further forms follow it.
    const auto text = [&](std::uint32_t Table, std::uint32_t Index) {
        return std::string(Data.data() + word(Table + 8 * Index + 4));
    };
    std::string header;
    for (std::uint32_t i = 0; i < count && header.empty(); ++i)
        if (word(word(12) + 8 * i) == 0)
            header = text(word(16), i);
    const std::size_t at = header.find("charset=");
    if (at == std::string::npos)
        return "its header names no character set";
    const std::string charset =
        header.substr(at + 8, header.find_first_of(" \t\r\n;", at + 8) - (at + 8));
    std::string lower = charset;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    iconv_t converter = iconv_t(-1);
    if (lower != "utf-8" && lower != "utf8") {
        converter = ::iconv_open("UTF-8", charset.c_str());
        if (converter == iconv_t(-1))
            return "its character set is unknown";
    }
    const char* problem = nullptr;
    for (std::uint32_t i = 0; i < count && !problem; ++i) {
        std::string key = text(word(12), i);
        std::string value = text(word(16), i);
        // The header, keys with a context, and keys without a translation serve no Tr.
        if (key.empty() || value.empty() || key.find('\x04') != std::string::npos)
            continue;
        if (converter != iconv_t(-1) && (!ToUtf8(converter, key) || !ToUtf8(converter, value)))
            problem = "a text is not valid in its character set";
        else
            Texts.emplace(std::move(key), std::move(value));
    }
    if (converter != iconv_t(-1))
        ::iconv_close(converter);
    if (problem)
        Texts.clear();
    return problem;
}

// The catalogs that may serve Language, in order: de_AT, then de. The only Chinese catalog
// is Simplified, which a bare "zh" gets; zh_TW and zh_HK readers write Traditional
// characters and are better served by English.
std::vector<std::string> CatalogCandidates(const std::string& Language) {
    std::vector<std::string> candidates{Language};
    if (const std::size_t bar = Language.find('_'); bar != std::string::npos && bar > 0)
        candidates.push_back(Language.substr(0, bar));
    else if (Language == "zh")
        candidates.push_back("zh_CN");
    return candidates;
}

std::string CatalogPath(const std::string& Folder, const std::string& Code) {
    return Folder + "/" + Code + "/LC_MESSAGES/" + CatalogDomain + ".mo";
}

bool HasCatalog(const std::string& Language, const std::vector<std::string>& Folders) {
    if (!IsLanguageCode(Language))
        return false;
    for (const std::string& candidate : CatalogCandidates(Language))
        for (const std::string& folder : Folders) {
            std::error_code error;
            if (fs::is_regular_file(CatalogPath(folder, candidate), error))
                return true;
        }
    return false;
}

// Loads the first usable catalog of Candidates into Catalog, each tried in every folder
// before the next. Returns false when there is none.
bool LoadCatalog(TCatalog& Catalog, const std::vector<std::string>& Candidates,
                 const std::vector<std::string>& Folders) {
    for (const std::string& candidate : Candidates) {
        for (const std::string& folder : Folders) {
            const std::string path = CatalogPath(folder, candidate);
            const std::optional<std::vector<char>> image = ReadCatalogFile(path);
            if (!image)
                continue;
            if (const char* problem = MoImageProblem(*image)) {
                LogError("Message catalog " + path + " is ignored: " + problem);
                continue;
            }
            if (const char* problem = ReadMoImage(*image, Catalog.Texts)) {
                LogError("Message catalog " + path + " is ignored: " + problem);
                continue;
            }
            LogDebug("Message catalog " + path + " in use for " + Catalog.Language);
            return true;
        }
    }
    return false;
}

} // namespace

std::string Tr(const char* MsgId) {
    // The empty key would give the catalog's header.
    if (MsgId == nullptr || *MsgId == '\0')
        return {};
    std::shared_ptr<const TCatalog> catalog;
    {
        std::lock_guard guard(StateLock);
        catalog = Current;
    }
    if (catalog) {
        const auto found = catalog->Texts.find(std::string_view(MsgId));
        if (found != catalog->Texts.end())
            return found->second;
    }
    return MsgId;
}

bool UseLanguage(const std::string& Code) {
    auto catalog = std::make_shared<TCatalog>();
    catalog->Language = Code.empty() ? DefaultLanguage() : NormaliseCode(Code);

    std::lock_guard switching(SwitchLock);
    const std::vector<std::string> folders = GetCatalogFolders();
    const bool found = IsLanguageCode(catalog->Language) &&
                       LoadCatalog(*catalog, CatalogCandidates(catalog->Language), folders);
    // Many keys are Chinese texts, so the keys would make a mixed interface: English is the
    // better stand-in.
    if (!found && (catalog->Language == "en" || !LoadCatalog(*catalog, {"en"}, folders)))
        LogDebug("No message catalog for \"" + catalog->Language + "\": the keys are shown");
    std::lock_guard guard(StateLock);
    Current = std::move(catalog);
    return found;
}

std::string CurrentLanguage() {
    std::lock_guard guard(StateLock);
    return Current ? Current->Language : std::string();
}

std::vector<std::string> EnvironmentLanguages() {
    std::vector<std::string> languages;
    const auto add = [&languages](std::string_view Value) {
        if (std::string code = NormaliseCode(Value); !code.empty())
            languages.push_back(std::move(code));
    };
    if (const char* language = std::getenv("LANGUAGE")) {
        // A priority list "de_AT:de:en"; empty entries are skipped as gettext does.
        for (std::string_view list = language; !list.empty();) {
            const std::size_t colon = list.find(':');
            add(list.substr(0, colon));
            list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
        }
    }
    // As in the C library, LC_ALL overrides LC_MESSAGES, which overrides LANG.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* setting = std::getenv(name); setting != nullptr && *setting != '\0') {
            add(setting);
            break;
        }
    }
    return languages;
}

std::string DefaultLanguage() {
    const std::vector<std::string> folders = GetCatalogFolders();
    for (const std::string& language : EnvironmentLanguages())
        if (HasCatalog(language, folders))
            return language;
    return "en";
}

std::vector<std::string> GetInstalledLanguages() {
    std::set<std::string> codes;
    for (const std::string& folder : GetCatalogFolders()) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string code = it->path().filename().string();
            std::error_code fileError;
            if (IsLanguageCode(code) &&
                fs::is_regular_file(
                    it->path() / "LC_MESSAGES" / (std::string(CatalogDomain) + ".mo"), fileError))
                codes.insert(code);
        }
    }
    return {codes.begin(), codes.end()};
}

std::vector<std::string> GetCatalogFolders() {
    {
        std::lock_guard guard(StateLock);
        if (!CustomFolders.empty())
            return CustomFolders;
    }
    static const std::vector<std::string> programFolders = ProgramCatalogFolders();
    return programFolders;
}

void SetCatalogFolders(std::vector<std::string> Folders) {
    std::lock_guard guard(StateLock);
    CustomFolders = std::move(Folders);
}

} // namespace qv
