#include "platform/Mounts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <set>
#include <unistd.h>
#include <utility>

// Some pseudo file system magics live only in the kernel's sources (configfs, fusectl,
// mqueue, rpc_pipefs) and older headers lack others; the values are the kernel's own.
#ifndef MQUEUE_MAGIC
#define MQUEUE_MAGIC 0x19800202
#endif
#ifndef CONFIGFS_MAGIC
#define CONFIGFS_MAGIC 0x62656570
#endif
#ifndef FUSECTL_SUPER_MAGIC
#define FUSECTL_SUPER_MAGIC 0x65735543
#endif
#ifndef RPC_PIPEFS_MAGIC
#define RPC_PIPEFS_MAGIC 0x67596969
#endif
#ifndef BINFMTFS_MAGIC
#define BINFMTFS_MAGIC 0x42494e4d
#endif
#ifndef BPF_FS_MAGIC
#define BPF_FS_MAGIC 0xcafe4a11
#endif
#ifndef NSFS_MAGIC
#define NSFS_MAGIC 0x6e736673
#endif
#ifndef EFIVARFS_MAGIC
#define EFIVARFS_MAGIC 0xde5e81e4
#endif
#ifndef TRACEFS_MAGIC
#define TRACEFS_MAGIC 0x74726163
#endif
#ifndef CGROUP2_SUPER_MAGIC
#define CGROUP2_SUPER_MAGIC 0x63677270
#endif
#ifndef PSTOREFS_MAGIC
#define PSTOREFS_MAGIC 0x6165676C
#endif

namespace qv {
namespace {

using namespace std::string_view_literals;

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// The kernel writes blank, tab, newline and backslash in paths as \ooo. Any other backslash
// cannot come from the kernel, so it is kept as it is.
std::string Unescape(std::string_view Field) {
    std::string result;
    result.reserve(Field.size());
    for (std::size_t i = 0; i < Field.size(); ++i) {
        if (Field[i] == '\\' && i + 3 < Field.size() && Field[i + 1] >= '0' &&
            Field[i + 1] <= '3' && IsOctal(Field[i + 2]) && IsOctal(Field[i + 3])) {
            result += char(((Field[i + 1] - '0') << 6) | ((Field[i + 2] - '0') << 3) |
                           (Field[i + 3] - '0'));
            i += 3;
        } else {
            result += Field[i];
        }
    }
    return result;
}

template <typename T> bool ParseNumber(std::string_view Text, T& Value) {
    if (Text.empty())
        return false;
    auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    return ec == std::errc() && end == Text.data() + Text.size();
}

// Fields are separated by exactly one blank. An empty field is real: a file system mounted
// with an empty source name shows as two blanks in a row.
std::vector<std::string_view> SplitFields(std::string_view Line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t blank = Line.find(' ', start);
        if (blank == std::string_view::npos) {
            fields.push_back(Line.substr(start));
            return fields;
        }
        fields.push_back(Line.substr(start, blank - start));
        start = blank + 1;
    }
}

bool ParseLine(std::string_view Line, TMountEntry& Entry) {
    const std::vector<std::string_view> fields = SplitFields(Line);
    // Six fixed fields, the "-" separator and three more at the very least.
    if (fields.size() < 10)
        return false;
    auto separator = std::find(fields.begin() + 6, fields.end(), "-"sv);
    if (separator == fields.end() || fields.end() - separator != 4)
        return false;
    if (std::any_of(fields.begin(), separator, [](std::string_view f) { return f.empty(); }))
        return false;
    const std::string_view fsType = separator[1];
    if (fsType.empty() || separator[3].empty())
        return false;

    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos)
        return false;
    if (!ParseNumber(fields[0], Entry.MountId) || !ParseNumber(fields[1], Entry.ParentId) ||
        !ParseNumber(device.substr(0, colon), Entry.Major) ||
        !ParseNumber(device.substr(colon + 1), Entry.Minor))
        return false;

    Entry.Root = Unescape(fields[3]);
    Entry.MountPoint = Unescape(fields[4]);
    Entry.Options = std::string(fields[5]);
    Entry.FsType = std::string(fsType);
    Entry.Source = Unescape(separator[2]);
    Entry.SuperOptions = std::string(separator[3]);
    return true;
}

constexpr std::array PseudoFileSystems{
    "autofs"sv,     "binder"sv,    "binfmt_misc"sv, "bpf"sv,     "cgroup"sv,
    "cgroup2"sv,    "configfs"sv,  "debugfs"sv,     "devpts"sv,  "devtmpfs"sv,
    "efivarfs"sv,   "fusectl"sv,   "hugetlbfs"sv,   "mqueue"sv,  "nfsd"sv,
    "nsfs"sv,       "proc"sv,      "pstore"sv,      "resctrl"sv, "rpc_pipefs"sv,
    "securityfs"sv, "selinuxfs"sv, "smackfs"sv,     "sysfs"sv,   "tracefs"sv,
};

// Disk file systems: fixed, unless the disk under them says it is removable.
constexpr std::array DiskFileSystems{
    "bcachefs"sv, "btrfs"sv,    "exfat"sv,   "ext2"sv, "ext3"sv,  "ext4"sv,   "f2fs"sv,
    "fuseblk"sv,  "hfs"sv,      "hfsplus"sv, "jfs"sv,  "msdos"sv, "nilfs2"sv, "ntfs"sv,
    "ntfs3"sv,    "reiserfs"sv, "vfat"sv,    "xfs"sv,  "zfs"sv,
};

constexpr std::array RemoteFileSystems{
    "9p"sv,
    "afs"sv,
    "ceph"sv,
    "cifs"sv,
    "coda"sv,
    "davfs"sv,
    "fuse.ceph-fuse"sv,
    "fuse.davfs2"sv,
    "fuse.glusterfs"sv,
    "fuse.rclone"sv,
    "fuse.s3fs"sv,
    "fuse.sshfs"sv,
    "glusterfs"sv,
    "lustre"sv,
    "ncpfs"sv,
    "nfs"sv,
    "nfs4"sv,
    "smb3"sv,
    "smbfs"sv,
    "sshfs"sv,
    "virtiofs"sv,
};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& Names, std::string_view Name) {
    return std::find(Names.begin(), Names.end(), Name) != Names.end();
}

bool ReadSmallFile(const std::string& Path, std::string& Text) {
    int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    Text.clear();
    char buffer[64];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        Text.append(buffer, std::size_t(n));
        if (Text.size() > 4096)
            break;
    }
    ::close(fd);
    return ok;
}

} // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view Text) {
    std::vector<TMountEntry> table;
    while (!Text.empty()) {
        const std::size_t newline = Text.find('\n');
        const std::string_view line = Text.substr(0, newline);
        Text.remove_prefix(newline == std::string_view::npos ? Text.size() : newline + 1);
        TMountEntry entry;
        if (ParseLine(line, entry))
            table.push_back(std::move(entry));
    }
    return table;
}

std::vector<TMountEntry> ReadMountTable() {
    // The file reports a size of 0; it must be read until the end.
    int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return {};
        }
        if (n == 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return ParseMountInfo(text);
}

bool IsPseudoFileSystem(std::string_view FsType) {
    return Contains(PseudoFileSystems, FsType);
}

bool IsPseudoFileSystemMagic(long FsMagic) {
    // f_type is a signed long, so a magic with the top bit set may arrive sign-extended on
    // some architectures; compare the low 32 bits only.
    switch (static_cast<unsigned long>(FsMagic) & 0xffffffffUL) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
    case MQUEUE_MAGIC:
    case HUGETLBFS_MAGIC:
    case CONFIGFS_MAGIC:
    case FUSECTL_SUPER_MAGIC:
    case BINFMTFS_MAGIC:
    case AUTOFS_SUPER_MAGIC:
    case EFIVARFS_MAGIC:
    case NSFS_MAGIC:
    case RPC_PIPEFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
        return true;
    default:
        return false;
    }
}

bool IsRemovableBlockDevice(unsigned Major, unsigned Minor) {
    // Major 0 is the kernel's anonymous devices (tmpfs, overlay, NFS, btrfs...): nothing in
    // /sys describes them.
    if (Major == 0)
        return false;
    const std::string link =
        "/sys/dev/block/" + std::to_string(Major) + ":" + std::to_string(Minor);
    char* resolved = ::realpath(link.c_str(), nullptr);
    if (resolved == nullptr)
        return false;
    std::string device(resolved);
    std::free(resolved);
    // Only a whole disk carries "removable"; a partition's disk is its parent directory.
    if (::access((device + "/partition").c_str(), F_OK) == 0) {
        const std::size_t slash = device.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        device.resize(slash);
    }
    std::string value;
    if (!ReadSmallFile(device + "/removable", value))
        return false;
    return value == "1\n" || value == "1";
}

TDriveType DriveTypeOf(const TMountEntry& Entry, const TRemovableQuery& Removable) {
    const std::string_view type = Entry.FsType;
    if (type == "iso9660" || type == "udf")
        return dtCDROM;
    if (type == "tmpfs" || type == "ramfs")
        return dtRAMDisk;
    if (Contains(RemoteFileSystems, type))
        return dtRemote;
    if (type == "overlay")
        return dtFixed;
    if (Contains(DiskFileSystems, type)) {
        if (Entry.Major != 0 && Removable && Removable(Entry.Major, Entry.Minor))
            return dtRemovable;
        return dtFixed;
    }
    return dtUnknown;
}

namespace {

// True when Inner is Outer or lies below it ("/" holds everything).
bool IsSameOrBelow(std::string_view Inner, std::string_view Outer) {
    if (Outer == "/" || Inner == Outer)
        return true;
    return Inner.starts_with(Outer) && Inner.size() > Outer.size() && Inner[Outer.size()] == '/';
}

} // namespace

std::vector<TDrive> ListDrives(const std::vector<TMountEntry>& Table,
                               const TRemovableQuery& Removable) {
    std::vector<TDrive> drives;
    for (const TMountEntry& entry : Table) {
        const TDriveType type = DriveTypeOf(entry, Removable);
        // A file system stacked on a listed mount point hides it: the later mount is what
        // a walk of that directory sees.
        const auto stacked = std::find_if(drives.begin(), drives.end(), [&](const TDrive& d) {
            return d.Root == entry.MountPoint;
        });
        if (stacked != drives.end()) {
            if (type == dtUnknown)
                drives.erase(stacked);
            else
                *stacked = TDrive{entry.MountPoint, type, entry};
            continue;
        }
        if (type == dtUnknown)
            continue;
        // The same file system again: a bind mount of a part that is listed already. A
        // btrfs subvolume shares the device numbers but not the root, and is listed.
        const bool covered = std::any_of(drives.begin(), drives.end(), [&](const TDrive& d) {
            return d.Mount.Major == entry.Major && d.Mount.Minor == entry.Minor &&
                   IsSameOrBelow(entry.Root, d.Mount.Root);
        });
        if (!covered)
            drives.push_back(TDrive{entry.MountPoint, type, entry});
    }
    return drives;
}

} // namespace qv
