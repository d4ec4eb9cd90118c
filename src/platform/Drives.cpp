#include "platform/Drives.h"

#include "platform/SysError.h"
#include "support/QvLogger.h"
#include "support/QvUtils.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

#ifndef FSLABEL_MAX
#define FSLABEL_MAX 256
#endif

namespace qv {
namespace {

// How long a network file system may take to describe itself before we give up on it.
constexpr std::chrono::milliseconds RemoteQueryTimeout(2000);

// Runs Work on a detached thread and waits at most Timeout for its result. A worker that
// outlives the wait (a hung NFS server can stall it for minutes) keeps the shared state
// alive on its own and writes only there, so the caller is free to return. Work must
// therefore own everything it uses.
template <typename T, typename F>
std::optional<T> RunWithTimeout(F Work, std::chrono::milliseconds Timeout) {
    struct TState {
        std::mutex Lock;
        std::condition_variable Done;
        std::optional<T> Result;
    };
    auto state = std::make_shared<TState>();
    try {
        std::thread([state, Work = std::move(Work)]() mutable {
            T result = Work();
            std::lock_guard guard(state->Lock);
            state->Result = std::move(result);
            state->Done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        LogDebug(std::string("Cannot start a worker thread - ") + e.what());
        return std::nullopt;
    }
    std::unique_lock guard(state->Lock);
    if (!state->Done.wait_for(guard, Timeout, [&] { return state->Result.has_value(); }))
        return std::nullopt;
    return std::move(state->Result);
}

// udev writes unsafe bytes of a label link name as \xHH ("My\x20Disk").
std::string DecodeUdevName(std::string_view Name) {
    const auto hex = HexDigitValue;
    std::string result;
    result.reserve(Name.size());
    for (std::size_t i = 0; i < Name.size(); ++i) {
        if (Name[i] == '\\' && i + 3 < Name.size() && Name[i + 1] == 'x' && hex(Name[i + 2]) >= 0 &&
            hex(Name[i + 3]) >= 0) {
            result += char(hex(Name[i + 2]) * 16 + hex(Name[i + 3]));
            i += 3;
        } else {
            result += Name[i];
        }
    }
    return result;
}

std::optional<std::string> RealPath(const std::string& Path) {
    char* resolved = ::realpath(Path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// For file systems without the label ioctl (vfat, exfat and ntfs on older kernels), udev's
// links name the label; they may be missing altogether in containers.
std::string LabelFromUdevLinks(const std::string& Source) {
    if (Source.rfind("/dev/", 0) != 0)
        return {};
    const std::optional<std::string> device = RealPath(Source);
    if (!device)
        return {};
    const std::string dir = "/dev/disk/by-label";
    DIR* labels = ::opendir(dir.c_str());
    if (labels == nullptr)
        return {};
    std::string label;
    while (const dirent* entry = ::readdir(labels)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::optional<std::string> target = RealPath(dir + "/" + entry->d_name);
        if (target && *target == *device) {
            label = DecodeUdevName(name);
            break;
        }
    }
    ::closedir(labels);
    return label;
}

struct TVolumeQuery {
    int Error = 0;
    std::string Label;
    std::uint32_t Serial = 0;
};

TVolumeQuery QueryVolume(const std::string& MountPoint, const std::string& Source, bool Remote) {
    TVolumeQuery query;
    const int fd = ::open(MountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        query.Error = errno;
        return query;
    }
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) {
        query.Error = errno;
        ::close(fd);
        return query;
    }
    int fsid[2];
    static_assert(sizeof fsid == sizeof fs.f_fsid);
    std::memcpy(fsid, &fs.f_fsid, sizeof fsid);
    query.Serial = std::uint32_t(fsid[0]) ^ std::uint32_t(fsid[1]);

    char label[FSLABEL_MAX + 1] = {};
    if (::ioctl(fd, FS_IOC_GETFSLABEL, label) == 0)
        query.Label = std::string(label, ::strnlen(label, FSLABEL_MAX));
    ::close(fd);
    if (query.Label.empty() && !Remote)
        query.Label = LabelFromUdevLinks(Source);
    return query;
}

} // namespace

std::vector<TDrive> ListedDrives(const std::vector<TMountEntry>& Table,
                                 const TRemovableQuery& Removable) {
    std::vector<TDrive> drives = ListDrives(Table, Removable);
    // Only local drives are checked, so a dead server cannot block the call.
    std::erase_if(drives, [](const TDrive& d) {
        struct stat st;
        return d.Type == dtFixed && ::stat(d.Root.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    });
    return drives;
}

int GetDriveList(TDriveTypes Types, std::vector<std::string>& List) {
    for (const TDrive& drive : ListedDrives(ReadMountTable(), IsRemovableBlockDevice)) {
        if (Types.Contains(drive.Type))
            List.push_back(drive.Root);
    }
    return int(List.size());
}

TVolumeInfo GetVolumeInfo(const std::string& Root) {
    const std::string root = WithoutTrailingDelimiter(Root);
    const std::vector<TMountEntry> table = ReadMountTable();
    // A later mount on the same directory hides the earlier ones.
    const TMountEntry* mount = nullptr;
    for (const TMountEntry& entry : table)
        if (entry.MountPoint == root)
            mount = &entry;
    if (mount == nullptr) {
        LogDebug(Root + " - " + SysErrorMessage(EINVAL));
        return {};
    }

    // Only the type matters here, so there is no need to ask /sys about removable media.
    const bool remote = DriveTypeOf(*mount, {}) == dtRemote;
    TVolumeQuery query;
    if (remote) {
        std::optional<TVolumeQuery> answer = RunWithTimeout<TVolumeQuery>(
            [mountPoint = mount->MountPoint, source = mount->Source] {
                return QueryVolume(mountPoint, source, true);
            },
            RemoteQueryTimeout);
        if (!answer) {
            LogDebug(Root + " - no answer from the file system within " +
                     std::to_string(RemoteQueryTimeout.count()) + " ms");
            TVolumeInfo info;
            info.FileSystemName = mount->FsType;
            return info;
        }
        query = std::move(*answer);
    } else {
        query = QueryVolume(mount->MountPoint, mount->Source, false);
    }
    if (query.Error != 0) {
        LogDebug(Root + " - " + SysErrorMessage(query.Error));
        return {};
    }

    TVolumeInfo info;
    info.VolumeName = std::move(query.Label);
    info.SerialNumber = query.Serial;
    info.FileSystemName = mount->FsType;
    return info;
}

bool GetDiskFreeSpace(const std::string& Path, std::int64_t& FreeBytes,
                      std::chrono::milliseconds Timeout) {
    struct TAnswer {
        int Error = 0;
        std::int64_t Free = 0;
    };
    std::optional<TAnswer> answer = RunWithTimeout<TAnswer>(
        [Path] {
            TAnswer result;
            struct statvfs fs {};
            if (::statvfs(Path.c_str(), &fs) != 0) {
                result.Error = errno;
                return result;
            }
            const unsigned long long blocks = fs.f_bavail;
            const unsigned long long size = fs.f_frsize;
            constexpr auto limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
            result.Free = size != 0 && blocks > limit / size
                              ? std::numeric_limits<std::int64_t>::max()
                              : std::int64_t(blocks * size);
            return result;
        },
        Timeout);
    if (!answer) {
        LogDebug(Path + " - no answer from the file system within " +
                 std::to_string(Timeout.count()) + " ms");
        return false;
    }
    if (answer->Error != 0) {
        LogDebug(Path + " - " + SysErrorMessage(answer->Error));
        return false;
    }
    FreeBytes = answer->Free;
    return true;
}

bool IsDriveMountPoint(const std::string& Path) {
    const std::string path = WithoutTrailingDelimiter(Path);
    std::vector<std::string> roots;
    GetDriveList(TDriveTypes::All(), roots);
    return std::find(roots.begin(), roots.end(), path) != roots.end();
}

} // namespace qv
