#pragma once
// Drive and volume queries over the mount table.

#include "platform/Mounts.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct TVolumeInfo {
    std::string VolumeName;         // the file system label, empty when it has none
    std::uint32_t SerialNumber = 0; // derived from the file system id
    std::string FileSystemName;     // the type name, e.g. "ext4"
};

// The drives of Table as the drive list shows them: ListDrives without the single files
// that containers bind from their host (/etc/hosts), which are no drives.
[[nodiscard]] std::vector<TDrive> ListedDrives(const std::vector<TMountEntry>& Table,
                                               const TRemovableQuery& Removable);

// Appends the root (mount point) of every listed drive whose type is in Types to List, in
// the order of the mount table, and returns List's new count.
int GetDriveList(TDriveTypes Types, std::vector<std::string>& List);

// The volume information of the file system mounted exactly at Root (a trailing "/" is
// ignored). All fields empty or 0 when Root is not a mount point or the query fails; a
// failure is written to the debug log as Root, " - " and the system's message.
// Remote file systems are queried with a time limit, so a dead server cannot block.
[[nodiscard]] TVolumeInfo GetVolumeInfo(const std::string& Root);

// Free bytes available to an unprivileged caller on the file system of Path
// (f_bavail * f_frsize). False when the query fails or does not answer within Timeout
// (a dead network mount); FreeBytes is then unchanged.
bool GetDiskFreeSpace(const std::string& Path, std::int64_t& FreeBytes,
                      std::chrono::milliseconds Timeout = std::chrono::milliseconds(2000));

// True when Path is the mount point of a listed drive.
[[nodiscard]] bool IsDriveMountPoint(const std::string& Path);

} // namespace qv
