#pragma once
// What the file system says about one item, as the properties dialog shows it: its kind,
// sizes, times, owner, permissions and the file system it lies on. The item itself is never
// followed: a symbolic link is described as a link, with its target.

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace qv {

enum TItemKind : std::uint8_t {
    ikRegularFile,
    ikDirectory,
    ikSymbolicLink,
    ikBlockDevice,
    ikCharacterDevice,
    ikFifo,
    ikSocket,
    ikOther,
};

struct TItemInfo {
    std::string Path;
    // 0 when the item could be read; otherwise the errno of lstat, with the system's
    // message, and every field below keeps its default.
    int Error = 0;
    std::string ErrorMessage;

    TItemKind Kind = ikOther;
    // The text a symbolic link holds, unresolved; empty for every other kind.
    std::string LinkTarget;
    std::int64_t Size = 0;          // st_size
    std::int64_t AllocatedSize = 0; // st_blocks * 512: what the item takes on the disk
    timespec Modified{};
    timespec Changed{}; // the last change of the inode (owner, permissions, links, data)
    timespec Accessed{};
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::string OwnerName; // empty when the user database does not know Uid
    std::string GroupName; // empty when the group database does not know Gid
    // st_mode: the type bits and the permission bits with setuid, setgid and sticky.
    mode_t Mode = 0;
    // The mounted file system holding the item; both empty when the mount table does not
    // tell.
    std::string FileSystemType;
    std::string MountPoint;
};

// Reads the information of Path with lstat. Never throws for a file system failure: that
// ends up in Error and ErrorMessage.
[[nodiscard]] TItemInfo ReadItemInfo(const std::string& Path);

// Mode as "ls -l" writes it: the type letter (- d l b c p s, ? for anything else) and
// three rwx triples, with s/S for setuid and setgid and t/T for sticky ("drwxrwxrwt").
[[nodiscard]] std::string PermissionText(mode_t Mode);

} // namespace qv
