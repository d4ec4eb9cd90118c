#pragma once
// TSettings: the user's preferences and typed access to the one ini file that keeps them
// together with the window and view state ($XDG_CONFIG_HOME/Quorvel/Quorvel.ini).
//
// The preferences are read once at start (Load) and written once at shut-down (Save); the
// window reads and writes its own keys through the section access functions whenever it
// likes. Section "Settings" holds the preferences and the view state; the section named
// after the screen size ("1280x1024") holds what depends on it, so that a different
// screen starts with a fresh window layout while the preferences carry over.
//
// Failures: Save and the Write... functions throw ESettingsError when the file cannot be
// written; the old file is then left as it was. Reading never throws: what is missing or
// does not parse keeps the value there was; only Load throws ESettingsError for a file
// larger than TQvIniFile::MaxFileSize, which is not read at all (every value stays). The
// constructor throws ESettingsError when the settings folder cannot be created.
//
// Threading: GUI thread only, with one exception: the scan threads may call
// GroupSmallFiles(), GroupFileSize(), CrossFileSystems() and CountHardLinksOnce() at any time, also
// while the GUI thread loads or assigns the settings. AppSettings() may be called from any thread.

#include "settings/BarChartPainterRegistry.h"
#include "settings/QvIniFile.h"
#include "view/SizeFormat.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

enum TQvPaintOption : std::uint8_t {
    poDrawChildPercentBars = 0,
};

// A set of TQvPaintOption: bit n stands for option n. Eight bits, so options above 7 do
// not exist.
using TQvPaintOptions = std::uint8_t;

[[nodiscard]] constexpr bool HasPaintOption(TQvPaintOptions Options, TQvPaintOption Option) {
    return Option <= 7 && ((Options >> Option) & 1) != 0;
}

// The screen size that names the resolution section.
struct TScreenSize {
    int Width = 0;
    int Height = 0;
};

// The GUI tells the core the primary screen's size, which the core cannot ask for itself:
// either as a function asked at every use (so that a change of screen is followed at once)
// or as a fixed size. Until either is set the size is 0 x 0 and the section is "0x0".
using TScreenSizeProvider = std::function<TScreenSize()>;
void SetScreenSizeProvider(TScreenSizeProvider Provider);
void SetScreenSize(int Width, int Height);
[[nodiscard]] TScreenSize ScreenSize();

class TSettings {
public:
    static constexpr const char* SettingsSection = "Settings";
    static constexpr std::int64_t DefaultGroupFileSize = 1048576;
    static constexpr int DefaultTreeViewRefreshRate = 250;

    // Opens the file of GetIniFileName() and sets the defaults; the file is not read.
    TSettings();
    // The same on the file IniFileName, whose folder is taken as it is (a working copy
    // opens the file of its original this way).
    explicit TSettings(std::string IniFileName);
    ~TSettings();
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    // $XDG_CONFIG_HOME/Quorvel/Quorvel.ini ($XDG_CONFIG_HOME defaulting to ~/.config). The
    // folder is created with its missing parents; ESettingsError when that fails.
    [[nodiscard]] static std::string GetIniFileName();

    // Copies every preference and RescanNeeded from Source; the file stays this object's.
    void Assign(const TSettings& Source);
    // A new object on the same file with this object's values.
    [[nodiscard]] std::unique_ptr<TSettings> Clone() const;

    // Reads the preferences; a missing key keeps the current value, and so does a value
    // that does not parse (except the painter class, which falls back to
    // TDefaultBarChartPainterClass when it names no registered class). Throws
    // ESettingsError, keeping every value, when the file is too large to be read.
    void Load();
    // Writes the seven preferences to section "Settings". Throws ESettingsError.
    void Save();

    // --- the preferences ------------------------------------------------------------------
    [[nodiscard]] bool GroupSmallFiles() const noexcept {
        return FGroupSmallFiles.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::int64_t GroupFileSize() const noexcept {
        return FGroupFileSize.load(std::memory_order_relaxed);
    }
    // Whether a single-path scan enters other file systems. Read by Load from
    // "Settings"/"CrossFileSystems" ("1" or "0"); there is no dialog for it, and Save never
    // writes it, so only a user who adds the key has it.
    [[nodiscard]] bool CrossFileSystems() const noexcept {
        return FCrossFileSystems.load(std::memory_order_relaxed);
    }
    // Threads that walk one scan; 0 picks one per processor. Read by Load from
    // "Settings"/"ScanThreads" like CrossFileSystems: no dialog, never written by Save.
    [[nodiscard]] int ScanThreads() const noexcept {
        return FScanThreads.load(std::memory_order_relaxed);
    }
    // Whether a file with several names (hard links) counts once, at the first name a scan
    // meets, instead of once per name. Read by Load from "Settings"/"CountHardLinksOnce"
    // ("1" or "0", default "1") like CrossFileSystems; Save never writes it.
    [[nodiscard]] bool CountHardLinksOnce() const noexcept {
        return FCountHardLinksOnce.load(std::memory_order_relaxed);
    }
    [[nodiscard]] const std::string& Language() const noexcept { return FLanguage; }
    [[nodiscard]] int TreeViewRefreshRate() const noexcept { return FTreeViewRefreshRate; }
    [[nodiscard]] TQvPaintOptions PaintOptions() const noexcept { return FPaintOptions; }
    // One of the three styles: Load and SetFileSizeRounding turn any other value into
    // fsrRoundDown, which is how such values have always formatted, so that no user of the
    // setting can mistake one for fsrNone (byte counts).
    [[nodiscard]] TFileSizeRounding FileSizeRounding() const noexcept { return FFileSizeRounding; }
    // Never null.
    [[nodiscard]] const TBarChartPainterClass* BarChartPainterClass() const noexcept {
        return FBarChartPainterClass;
    }
    // Set when a preference that takes effect with the next scan changed.
    [[nodiscard]] bool RescanNeeded() const noexcept { return FRescanNeeded; }
    void ClearRescanNeeded() noexcept { FRescanNeeded = false; }

    // Set RescanNeeded when the value differs from the stored one.
    void SetGroupFileSize(std::int64_t Bytes);
    void SetGroupSmallFiles(bool Value);
    void SetCountHardLinksOnce(bool Value);
    void SetLanguage(std::string Code);
    void SetFileSizeRounding(int Style);
    // A null class stands for TDefaultBarChartPainterClass.
    void SetBarChartPainterClass(const TBarChartPainterClass* PainterClass);
    // Adds or removes Option; options above 7 are ignored.
    void SetPaintOption(TQvPaintOption Option, bool Included);

    // --- section access for the window and the dialogs ---------------------------------
    [[nodiscard]] std::string ReadSettingString(std::string_view Key,
                                                std::string_view Default) const;
    void WriteSettingString(std::string_view Key, std::string_view Value);
    [[nodiscard]] int ReadSettingInteger(std::string_view Key, int Default) const;
    void WriteSettingInteger(std::string_view Key, int Value);
    // On the section of the screen size of the moment.
    [[nodiscard]] std::string ReadResolutionString(std::string_view Key,
                                                   std::string_view Default) const;
    void WriteResolutionString(std::string_view Key, std::string_view Value);
    [[nodiscard]] std::string ReadSectionString(std::string_view Section, std::string_view Key,
                                                std::string_view Default) const;
    // "<width>x<height>" of ScreenSize().
    [[nodiscard]] static std::string ResolutionSection();

    [[nodiscard]] TQvIniFile& IniFile() noexcept { return FIniFile; }
    [[nodiscard]] const TQvIniFile& IniFile() const noexcept { return FIniFile; }

private:
    TQvIniFile FIniFile;
    std::atomic<std::int64_t> FGroupFileSize{DefaultGroupFileSize};
    std::string FLanguage;
    bool FRescanNeeded = false;
    int FTreeViewRefreshRate = DefaultTreeViewRefreshRate;
    std::atomic<bool> FGroupSmallFiles{true};
    TQvPaintOptions FPaintOptions = 1 << poDrawChildPercentBars;
    TFileSizeRounding FFileSizeRounding = fsrRoundDown;
    const TBarChartPainterClass* FBarChartPainterClass = &TDefaultBarChartPainterClass;
    std::atomic<bool> FCrossFileSystems{false};
    std::atomic<int> FScanThreads{0};
    std::atomic<bool> FCountHardLinksOnce{true};
};

// The process-wide settings, created on the first call (the constructor's ESettingsError
// reaches that caller, and the next call tries again).
[[nodiscard]] TSettings& AppSettings();

// Replaces the process-wide settings with Replacement, or with nothing, so that the next
// AppSettings() creates them afresh from the environment. The old object is freed, so no
// other thread may be using it. For tests.
void ResetAppSettings(std::unique_ptr<TSettings> Replacement = nullptr);

} // namespace qv
