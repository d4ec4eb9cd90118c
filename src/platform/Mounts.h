#pragma once
// The mount table: parsing /proc/self/mountinfo and classifying each file system.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Drive types; their order is the one the settings and the drive menus have always used.
enum TDriveType : std::uint8_t { dtUnknown, dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk };

// A set of drive types, one bit per TDriveType.
class TDriveTypes {
public:
    constexpr TDriveTypes() = default;
    constexpr TDriveTypes(std::initializer_list<TDriveType> types) {
        for (TDriveType t : types)
            Bits |= Bit(t);
    }
    [[nodiscard]] constexpr bool Contains(TDriveType t) const { return (Bits & Bit(t)) != 0; }
    constexpr void Include(TDriveType t) { Bits |= Bit(t); }
    static constexpr TDriveTypes All() {
        return {dtUnknown, dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk};
    }

private:
    static constexpr std::uint8_t Bit(TDriveType t) { return std::uint8_t(1u << t); }
    std::uint8_t Bits = 0;
};

// One line of /proc/self/mountinfo. Paths are unescaped (\040 becomes a blank, \134 a
// backslash); every other byte is kept as the kernel wrote it.
struct TMountEntry {
    int MountId = 0;
    int ParentId = 0;
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Root;       // the mounted directory inside its file system
    std::string MountPoint; // where it is mounted
    std::string Options;    // per-mount options
    std::string FsType;     // e.g. "ext4", "fuse.sshfs"
    std::string Source;     // e.g. "/dev/sda1", "server:/export", "tmpfs"
    std::string SuperOptions;
};

// Parses mountinfo text. Malformed lines are skipped; the order of the text is kept.
[[nodiscard]] std::vector<TMountEntry> ParseMountInfo(std::string_view Text);

// Reads and parses /proc/self/mountinfo; empty when it cannot be read.
[[nodiscard]] std::vector<TMountEntry> ReadMountTable();

// True for kernel pseudo file systems (proc, sysfs, cgroup2, autofs, ...) that a scan
// never enters, by type name.
[[nodiscard]] bool IsPseudoFileSystem(std::string_view FsType);

// True when the statfs magic number belongs to a kernel pseudo file system.
[[nodiscard]] bool IsPseudoFileSystemMagic(long FsMagic);

// Answers whether the block device MAJOR:MINOR (or the disk it is a partition of) is
// removable. The default reads /sys/dev/block/MAJOR:MINOR and the disk's "removable" file.
using TRemovableQuery = std::function<bool(unsigned Major, unsigned Minor)>;
[[nodiscard]] bool IsRemovableBlockDevice(unsigned Major, unsigned Minor);

// The drive type of one mounted file system (see PLATFORM notes in the README).
[[nodiscard]] TDriveType DriveTypeOf(const TMountEntry& Entry, const TRemovableQuery& Removable);

// A listed drive: one per mounted file system, at its first mount point.
struct TDrive {
    std::string Root; // the mount point
    TDriveType Type = dtUnknown;
    TMountEntry Mount;
};

// The drives of a mount table in its order: file systems of type dtUnknown are left out,
// and a file system (same device numbers) mounted twice is listed once, at its first
// mount point.
[[nodiscard]] std::vector<TDrive> ListDrives(const std::vector<TMountEntry>& Table,
                                             const TRemovableQuery& Removable);

} // namespace qv
