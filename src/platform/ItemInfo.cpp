#include "platform/ItemInfo.h"

#include "platform/Mounts.h"
#include "platform/SysError.h"
#include "support/QvUtils.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace qv {
namespace {

TItemKind KindOf(mode_t Mode) {
    switch (Mode & S_IFMT) {
    case S_IFREG:
        return ikRegularFile;
    case S_IFDIR:
        return ikDirectory;
    case S_IFLNK:
        return ikSymbolicLink;
    case S_IFBLK:
        return ikBlockDevice;
    case S_IFCHR:
        return ikCharacterDevice;
    case S_IFIFO:
        return ikFifo;
    case S_IFSOCK:
        return ikSocket;
    default:
        return ikOther;
    }
}

std::string ReadLinkTarget(const std::string& Path, std::int64_t SizeHint) {
    // st_size is only a hint: links in /proc report 0, and the link may change meanwhile.
    std::vector<char> Buffer(std::size_t(SizeHint > 0 ? SizeHint + 1 : 256));
    for (;;) {
        const ssize_t Length = ::readlink(Path.c_str(), Buffer.data(), Buffer.size());
        if (Length < 0)
            return {};
        if (std::size_t(Length) < Buffer.size())
            return std::string(Buffer.data(), std::size_t(Length));
        Buffer.resize(Buffer.size() * 2);
    }
}

// Runs Lookup (one getpwuid_r or getgrgid_r call, which sets Name when it finds the entry)
// with a buffer that grows while the entry does not fit.
template <class TLookup> std::string LookUpName(const TLookup& Lookup, int SizeQuery) {
    const long Suggested = ::sysconf(SizeQuery);
    std::vector<char> Buffer(std::size_t(Suggested > 0 ? Suggested : 1024));
    std::string Name;
    while (Lookup(Buffer, Name) == ERANGE && Buffer.size() < (std::size_t(1) << 20))
        Buffer.resize(Buffer.size() * 2);
    return Name;
}

std::string UserName(uid_t Uid) {
    return LookUpName(
        [Uid](std::vector<char>& Buffer, std::string& Name) {
            passwd Entry{};
            passwd* Found = nullptr;
            const int Error = ::getpwuid_r(Uid, &Entry, Buffer.data(), Buffer.size(), &Found);
            if (Error == 0 && Found != nullptr && Found->pw_name != nullptr)
                Name = Found->pw_name;
            return Error;
        },
        _SC_GETPW_R_SIZE_MAX);
}

std::string GroupName(gid_t Gid) {
    return LookUpName(
        [Gid](std::vector<char>& Buffer, std::string& Name) {
            group Entry{};
            group* Found = nullptr;
            const int Error = ::getgrgid_r(Gid, &Entry, Buffer.data(), Buffer.size(), &Found);
            if (Error == 0 && Found != nullptr && Found->gr_name != nullptr)
                Name = Found->gr_name;
            return Error;
        },
        _SC_GETGR_R_SIZE_MAX);
}

// Path made absolute with its directories resolved, but not its last component: the mount
// table names real directories, and a link must be found where the link itself lies.
std::string LocatedPath(const std::string& Path) {
    const std::string Trimmed = WithoutTrailingDelimiter(Path);
    const std::size_t Slash = Trimmed.rfind('/');
    std::string Dir = Slash == std::string::npos ? "." : Trimmed.substr(0, Slash);
    std::string Name = Slash == std::string::npos ? Trimmed : Trimmed.substr(Slash + 1);
    if (Dir.empty())
        Dir = "/";
    if (Name.empty() || Name == "." || Name == "..") {
        Dir = Trimmed.empty() ? "." : Trimmed;
        Name.clear();
    }
    const std::unique_ptr<char, decltype(&std::free)> Resolved(::realpath(Dir.c_str(), nullptr),
                                                               &std::free);
    if (!Resolved)
        return Trimmed;
    const std::string Base = Resolved.get();
    if (Name.empty())
        return Base;
    return Base == "/" ? "/" + Name : Base + "/" + Name;
}

// Whether MountPoint is Path or one of its parent directories.
bool ContainsPath(const std::string& MountPoint, const std::string& Path) {
    if (MountPoint == "/")
        return !Path.empty() && Path.front() == '/';
    return Path.compare(0, MountPoint.size(), MountPoint) == 0 &&
           (Path.size() == MountPoint.size() || Path[MountPoint.size()] == '/');
}

void FindFileSystem(const std::string& Path, dev_t Device, TItemInfo& Info) {
    const std::string Located = LocatedPath(Path);
    const std::vector<TMountEntry> Table = ReadMountTable();
    // The device numbers tell a bind mount of another file system on a parent from the
    // real one; btrfs subvolumes report devices the table does not list, and for them only
    // the path is left. On equal length a later entry hides the earlier one.
    const TMountEntry* ByDevice = nullptr;
    const TMountEntry* ByPath = nullptr;
    for (const TMountEntry& Entry : Table) {
        if (!ContainsPath(Entry.MountPoint, Located))
            continue;
        if (ByPath == nullptr || Entry.MountPoint.size() >= ByPath->MountPoint.size())
            ByPath = &Entry;
        if (Entry.Major == major(Device) && Entry.Minor == minor(Device) &&
            (ByDevice == nullptr || Entry.MountPoint.size() >= ByDevice->MountPoint.size()))
            ByDevice = &Entry;
    }
    if (const TMountEntry* Mount = ByDevice != nullptr ? ByDevice : ByPath) {
        Info.FileSystemType = Mount->FsType;
        Info.MountPoint = Mount->MountPoint;
    }
}

} // namespace

TItemInfo ReadItemInfo(const std::string& Path) {
    TItemInfo Info;
    Info.Path = Path;
    struct stat St {};
    if (::lstat(Path.c_str(), &St) != 0) {
        Info.Error = errno;
        Info.ErrorMessage = SysErrorMessage(Info.Error);
        return Info;
    }
    Info.Kind = KindOf(St.st_mode);
    Info.Size = St.st_size;
    Info.AllocatedSize = std::int64_t(St.st_blocks) * 512;
    Info.Modified = St.st_mtim;
    Info.Changed = St.st_ctim;
    Info.Accessed = St.st_atim;
    Info.Uid = St.st_uid;
    Info.Gid = St.st_gid;
    Info.Mode = St.st_mode;
    if (Info.Kind == ikSymbolicLink)
        Info.LinkTarget = ReadLinkTarget(Path, St.st_size);
    Info.OwnerName = UserName(St.st_uid);
    Info.GroupName = GroupName(St.st_gid);
    FindFileSystem(Path, St.st_dev, Info);
    return Info;
}

std::string PermissionText(mode_t Mode) {
    std::string Text = "?rwxrwxrwx";
    switch (Mode & S_IFMT) {
    case S_IFREG:
        Text[0] = '-';
        break;
    case S_IFDIR:
        Text[0] = 'd';
        break;
    case S_IFLNK:
        Text[0] = 'l';
        break;
    case S_IFBLK:
        Text[0] = 'b';
        break;
    case S_IFCHR:
        Text[0] = 'c';
        break;
    case S_IFIFO:
        Text[0] = 'p';
        break;
    case S_IFSOCK:
        Text[0] = 's';
        break;
    default:
        break;
    }
    for (int Bit = 0; Bit < 9; ++Bit)
        if ((Mode & (mode_t(1) << Bit)) == 0)
            Text[9 - Bit] = '-';
    // The special bits share the place of x: lower case when x is set as well.
    const auto Special = [&](mode_t Flag, std::size_t Place, char Letter) {
        if (Mode & Flag)
            Text[Place] = Text[Place] == 'x' ? Letter : char(Letter - 'a' + 'A');
    };
    Special(S_ISUID, 3, 's');
    Special(S_ISGID, 6, 's');
    Special(S_ISVTX, 9, 't');
    return Text;
}

} // namespace qv
