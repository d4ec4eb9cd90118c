#include "platform/DirReader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qv {

void TFd::Reset(int NewFd) noexcept {
    if (Fd >= 0)
        ::close(Fd);
    Fd = NewFd;
}

int OpenDirectoryAt(int DirFd, const char* Name) noexcept {
    int fd;
    do
        fd = ::openat(DirFd, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

TFd OpenDirectory(const std::string& Path, bool FollowLast, int& Error) {
    Error = 0;
    const int lastFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (FollowLast ? 0 : O_NOFOLLOW);
    if (Path.size() < PATH_MAX) {
        TFd fd(::open(Path.c_str(), lastFlags));
        if (!fd.Valid())
            Error = errno;
        return fd;
    }
    // Too long for one call: open the longest prefix that fits, then the rest one
    // component at a time. Components after the prefix are never followed as links, as
    // the scan that produced the path never followed them either.
    std::size_t cut = Path.rfind('/', PATH_MAX - 1);
    if (cut == std::string::npos || cut == 0)
        cut = 1;
    TFd dir(::open(Path.substr(0, cut).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        Error = errno;
        return {};
    }
    std::size_t pos = cut;
    while (pos < Path.size()) {
        while (pos < Path.size() && Path[pos] == '/')
            ++pos;
        if (pos >= Path.size())
            break;
        std::size_t end = Path.find('/', pos);
        if (end == std::string::npos)
            end = Path.size();
        const std::string name = Path.substr(pos, end - pos);
        TFd next(OpenDirectoryAt(dir.Get(), name.c_str()));
        if (!next.Valid()) {
            Error = errno;
            return {};
        }
        dir = std::move(next);
        pos = end;
    }
    return dir;
}

int ReadDirectoryEntries(int Fd, TEntryBuffer& Buffer) {
    // Large reads: most directories then take one call plus the one that returns 0.
    constexpr std::size_t Chunk = 32 * 1024;
    Buffer.Used = 0;
    for (;;) {
        if (Buffer.Capacity - Buffer.Used < Chunk) {
            const std::size_t capacity = std::max(Buffer.Capacity * 2, Buffer.Used + Chunk);
            auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
            if (Buffer.Used)
                std::memcpy(bytes.get(), Buffer.Bytes.get(), Buffer.Used);
            Buffer.Bytes = std::move(bytes);
            Buffer.Capacity = capacity;
        }
        const ssize_t n =
            ::getdents64(Fd, Buffer.Bytes.get() + Buffer.Used, Buffer.Capacity - Buffer.Used);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        Buffer.Used += std::size_t(n);
    }
}

void TEntryBuffer::SetEntryType(std::size_t Record, unsigned char Type) noexcept {
    Bytes[Record + offsetof(struct dirent64, d_type)] = static_cast<char>(Type);
}

bool TDirEntryCursor::Next(TDirEntryRef& Entry) noexcept {
    while (Pos < Buffer.Size()) {
        const char* rec = Buffer.Data() + Pos;
        unsigned short reclen;
        std::memcpy(&reclen, rec + offsetof(struct dirent64, d_reclen), sizeof reclen);
        Pos += reclen;
        const char* name = rec + offsetof(struct dirent64, d_name);
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        Entry.Name = name;
        Entry.Type = static_cast<unsigned char>(rec[offsetof(struct dirent64, d_type)]);
        Entry.Record = Pos - reclen;
        return true;
    }
    return false;
}

std::uint16_t AttributesOf(unsigned Mode, std::uint64_t StatxAttributes,
                           std::string_view Name) noexcept {
    std::uint16_t a = 0;
    if (!(Mode & S_IWUSR))
        a |= 0x1;
    if (!Name.empty() && Name.front() == '.')
        a |= 0x2;
    switch (Mode & S_IFMT) {
    case S_IFDIR:
        a |= 0x10;
        break;
    case S_IFREG:
        a |= 0x20;
        break;
    case S_IFLNK:
        a |= 0x400;
        break;
    default:
        a |= 0x4;
        break;
    }
    if (StatxAttributes & STATX_ATTR_COMPRESSED)
        a |= 0x800;
    return a;
}

int ListDirectoryFiles(const std::string& Dir, bool FollowLast,
                       const std::function<void(const char* Name, const TListedFile& File)>& Each,
                       const std::atomic<bool>* Stop) {
    int error = 0;
    TFd fd = OpenDirectory(Dir, FollowLast, error);
    if (!fd.Valid())
        return error;
    TEntryBuffer buffer;
    error = ReadDirectoryEntries(fd.Get(), buffer);
    if (error != 0 && buffer.Empty())
        return error;
    TDirEntryCursor cursor(buffer);
    TDirEntryRef entry;
    while (cursor.Next(entry)) {
        if (Stop && Stop->load(std::memory_order_relaxed))
            return ECANCELED;
        if (entry.Type == DT_DIR)
            continue;
        struct statx sx;
        if (::statx(fd.Get(), entry.Name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                    STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_BLOCKS | STATX_NLINK | STATX_INO,
                    &sx) != 0)
            continue; // vanished since it was listed
        if (S_ISDIR(sx.stx_mode))
            continue;
        TListedFile file;
        file.Size = std::int64_t(sx.stx_size);
        file.SizeOnDisk = std::int64_t(sx.stx_blocks) * 512;
        file.Attributes =
            AttributesOf(sx.stx_mode, sx.stx_attributes & sx.stx_attributes_mask, entry.Name);
        file.Regular = S_ISREG(sx.stx_mode);
        file.Links = sx.stx_nlink;
        file.Dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        file.Ino = sx.stx_ino;
        Each(entry.Name, file);
    }
    return 0;
}

} // namespace qv
