#include "settings/QvSettings.h"

#include "support/QvUtils.h"
#include "support/Translate.h"

#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace qv {
namespace {

constexpr const char* PaintOptionNames[] = {"poDrawChildPercentBars"};
constexpr TSetType PaintOptionsType{PaintOptionNames, 1};

constexpr const char* ProgramFolderName = "Quorvel";
constexpr const char* IniFileBaseName = "Quorvel.ini";

std::mutex ScreenLock; // guards the two below
TScreenSizeProvider ScreenProvider;
TScreenSize FixedScreenSize;

// Global outlives GlobalOwner at exit, because the owned object's destructor clears it.
std::atomic<TSettings*> Global{nullptr};
std::mutex GlobalLock; // serialises creating and replacing the process-wide settings
std::unique_ptr<TSettings> GlobalOwner;

std::string Trimmed(std::string_view S) {
    while (!S.empty() && static_cast<unsigned char>(S.front()) <= ' ')
        S.remove_prefix(1);
    while (!S.empty() && static_cast<unsigned char>(S.back()) <= ' ')
        S.remove_suffix(1);
    return std::string(S);
}

// Creates Path and its missing parents, new folders private to the user as the XDG rules
// ask. Returns 0 or the errno of the failure.
int MakeFolders(const std::string& Path) {
    struct stat st;
    if (::stat(Path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    std::size_t slash = Path.find_last_of('/');
    while (slash != std::string::npos && slash > 0 && Path[slash - 1] == '/')
        --slash;
    if (slash != std::string::npos && slash > 0)
        if (const int error = MakeFolders(Path.substr(0, slash)); error != 0)
            return error;
    if (::mkdir(Path.c_str(), 0700) == 0)
        return 0;
    const int error = errno;
    // Another process may have made it in the meantime.
    if (error == EEXIST && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return error;
}

[[noreturn]] void ThrowFolderError(const std::string& Folder) {
    std::string message = Tr("无法创建应用程序数据目录“%s”。");
    if (const std::size_t at = message.find("%s"); at != std::string::npos)
        message.replace(at, 2, Folder);
    else
        message += " " + Folder;
    throw ESettingsError(message);
}

std::string InitialLanguage() {
    std::string language = CurrentLanguage();
    // Before the translation set-up chose a language, the one it is going to choose.
    return language.empty() ? DefaultLanguage() : language;
}

} // namespace

void SetScreenSizeProvider(TScreenSizeProvider Provider) {
    std::lock_guard lock(ScreenLock);
    ScreenProvider = std::move(Provider);
}

void SetScreenSize(int Width, int Height) {
    std::lock_guard lock(ScreenLock);
    ScreenProvider = nullptr;
    FixedScreenSize = {Width, Height};
}

TScreenSize ScreenSize() {
    TScreenSizeProvider provider;
    {
        std::lock_guard lock(ScreenLock);
        if (!ScreenProvider)
            return FixedScreenSize;
        provider = ScreenProvider;
    }
    return provider();
}

TSettings::TSettings() : TSettings(GetIniFileName()) {}

TSettings::TSettings(std::string IniFileName)
    : FIniFile(std::move(IniFileName)), FLanguage(InitialLanguage()) {}

TSettings::~TSettings() {
    TSettings* self = this;
    Global.compare_exchange_strong(self, nullptr);
}

std::string TSettings::GetIniFileName() {
    const std::string appData = GetAppDataFolder();
    if (appData.empty()) // no home folder at all: nowhere sensible to go
        ThrowFolderError(std::string("~/.config/") + ProgramFolderName);
    const std::string folder = appData + ProgramFolderName;
    if (MakeFolders(folder) != 0)
        ThrowFolderError(folder);
    return folder + "/" + IniFileBaseName;
}

void TSettings::Assign(const TSettings& Source) {
    if (&Source == this)
        return;
    FGroupFileSize.store(Source.GroupFileSize(), std::memory_order_relaxed);
    FLanguage = Source.FLanguage;
    FRescanNeeded = Source.FRescanNeeded;
    FTreeViewRefreshRate = Source.FTreeViewRefreshRate;
    FGroupSmallFiles.store(Source.GroupSmallFiles(), std::memory_order_relaxed);
    FPaintOptions = Source.FPaintOptions;
    FFileSizeRounding = Source.FFileSizeRounding;
    FBarChartPainterClass = Source.FBarChartPainterClass;
    FCrossFileSystems.store(Source.CrossFileSystems(), std::memory_order_relaxed);
    FScanThreads.store(Source.ScanThreads(), std::memory_order_relaxed);
    FCountHardLinksOnce.store(Source.CountHardLinksOnce(), std::memory_order_relaxed);
}

std::unique_ptr<TSettings> TSettings::Clone() const {
    auto copy = std::make_unique<TSettings>(FIniFile.FileName());
    copy->Assign(*this);
    return copy;
}

void TSettings::Load() {
    // One read for all keys: each read of the file costs as much as the file is long.
    const TQvIniSnapshot ini = FIniFile.Read();
    if (!ini.Refusal().empty())
        throw ESettingsError(ini.Refusal());
    bool flag = false;
    if (TryStrToBool(ini.ReadString(SettingsSection, "GroupSmallFiles", ""), flag))
        FGroupSmallFiles.store(flag, std::memory_order_relaxed);
    FGroupFileSize.store(ini.ReadInt64(SettingsSection, "GroupFileSize", GroupFileSize()),
                         std::memory_order_relaxed);
    FLanguage = ini.ReadString(SettingsSection, "Language", FLanguage);
    FTreeViewRefreshRate =
        ini.ReadInteger(SettingsSection, "TreeViewRefreshRate", FTreeViewRefreshRate);
    // An empty value is as good as none; an unknown option name empties the whole set.
    if (const std::string options = ini.ReadString(SettingsSection, "PaintOptions", "");
        !Trimmed(options).empty())
        FPaintOptions = TQvPaintOptions(StringToSet(PaintOptionsType, options));
    SetFileSizeRounding(ini.ReadInteger(SettingsSection, "FileSizeRounding", FileSizeRounding()));
    if (ini.ValueExists(SettingsSection, "BarChartPainterClass")) {
        const TBarChartPainterClass* found = BarChartPainterRegistry().FindByClassName(
            ini.ReadString(SettingsSection, "BarChartPainterClass", ""));
        FBarChartPainterClass = found ? found : &TDefaultBarChartPainterClass;
    }
    if (TryStrToBool(ini.ReadString(SettingsSection, "CrossFileSystems", ""), flag))
        FCrossFileSystems.store(flag, std::memory_order_relaxed);
    // Negative or absurd counts fall back to automatic rather than starve or flood the scan.
    const int threads = ini.ReadInteger(SettingsSection, "ScanThreads", ScanThreads());
    FScanThreads.store(threads >= 0 && threads <= 256 ? threads : 0, std::memory_order_relaxed);
    if (TryStrToBool(ini.ReadString(SettingsSection, "CountHardLinksOnce", ""), flag))
        FCountHardLinksOnce.store(flag, std::memory_order_relaxed);
}

void TSettings::Save() {
    FIniFile.WriteString(SettingsSection, "GroupSmallFiles", GroupSmallFiles() ? "1" : "0");
    FIniFile.WriteInt64(SettingsSection, "GroupFileSize", GroupFileSize());
    FIniFile.WriteString(SettingsSection, "Language", FLanguage);
    FIniFile.WriteInteger(SettingsSection, "TreeViewRefreshRate", FTreeViewRefreshRate);
    FIniFile.WriteString(SettingsSection, "PaintOptions",
                         SetToString(PaintOptionsType, FPaintOptions, true));
    FIniFile.WriteInteger(SettingsSection, "FileSizeRounding", FFileSizeRounding);
    FIniFile.WriteString(SettingsSection, "BarChartPainterClass", FBarChartPainterClass->ClassName);
}

void TSettings::SetGroupFileSize(std::int64_t Bytes) {
    if (Bytes != GroupFileSize())
        FRescanNeeded = true;
    FGroupFileSize.store(Bytes, std::memory_order_relaxed);
}

void TSettings::SetGroupSmallFiles(bool Value) {
    if (Value != GroupSmallFiles())
        FRescanNeeded = true;
    FGroupSmallFiles.store(Value, std::memory_order_relaxed);
}

void TSettings::SetCountHardLinksOnce(bool Value) {
    if (Value != CountHardLinksOnce())
        FRescanNeeded = true;
    FCountHardLinksOnce.store(Value, std::memory_order_relaxed);
}

void TSettings::SetLanguage(std::string Code) {
    FLanguage = std::move(Code);
}

void TSettings::SetFileSizeRounding(int Style) {
    FFileSizeRounding =
        Style >= fsrNone && Style <= fsrRoundDown ? TFileSizeRounding(Style) : fsrRoundDown;
}

void TSettings::SetBarChartPainterClass(const TBarChartPainterClass* PainterClass) {
    FBarChartPainterClass = PainterClass ? PainterClass : &TDefaultBarChartPainterClass;
}

void TSettings::SetPaintOption(TQvPaintOption Option, bool Included) {
    if (Option > 7)
        return;
    const auto bit = TQvPaintOptions(1u << Option);
    FPaintOptions =
        Included ? TQvPaintOptions(FPaintOptions | bit) : TQvPaintOptions(FPaintOptions & ~bit);
}

std::string TSettings::ReadSettingString(std::string_view Key, std::string_view Default) const {
    return FIniFile.ReadString(SettingsSection, Key, Default);
}

void TSettings::WriteSettingString(std::string_view Key, std::string_view Value) {
    FIniFile.WriteString(SettingsSection, Key, Value);
}

int TSettings::ReadSettingInteger(std::string_view Key, int Default) const {
    return FIniFile.ReadInteger(SettingsSection, Key, Default);
}

void TSettings::WriteSettingInteger(std::string_view Key, int Value) {
    FIniFile.WriteInteger(SettingsSection, Key, Value);
}

std::string TSettings::ReadResolutionString(std::string_view Key, std::string_view Default) const {
    return FIniFile.ReadString(ResolutionSection(), Key, Default);
}

void TSettings::WriteResolutionString(std::string_view Key, std::string_view Value) {
    FIniFile.WriteString(ResolutionSection(), Key, Value);
}

std::string TSettings::ReadSectionString(std::string_view Section, std::string_view Key,
                                         std::string_view Default) const {
    return FIniFile.ReadString(Section, Key, Default);
}

std::string TSettings::ResolutionSection() {
    const TScreenSize size = ScreenSize();
    return std::to_string(size.Width) + "x" + std::to_string(size.Height);
}

TSettings& AppSettings() {
    if (TSettings* settings = Global.load(std::memory_order_acquire))
        return *settings;
    std::lock_guard lock(GlobalLock);
    if (TSettings* settings = Global.load(std::memory_order_acquire))
        return *settings;
    GlobalOwner = std::make_unique<TSettings>();
    Global.store(GlobalOwner.get(), std::memory_order_release);
    return *GlobalOwner;
}

void ResetAppSettings(std::unique_ptr<TSettings> Replacement) {
    std::unique_ptr<TSettings> old;
    {
        std::lock_guard lock(GlobalLock);
        old = std::exchange(GlobalOwner, std::move(Replacement));
        Global.store(GlobalOwner.get(), std::memory_order_release);
    }
    // Freed outside the lock; its destructor leaves the new instance in place.
}

} // namespace qv
