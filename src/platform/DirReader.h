#pragma once
// Directory listing relative to directory descriptors: nothing here follows a symbolic link
// unless asked to, and paths of any length can be opened.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct stat;

namespace qv {

// Owns one file descriptor.
class TFd {
public:
    TFd() = default;
    explicit TFd(int Fd) noexcept : Fd(Fd) {}
    TFd(TFd&& Other) noexcept : Fd(Other.Release()) {}
    TFd& operator=(TFd&& Other) noexcept {
        Reset(Other.Release());
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }

    [[nodiscard]] int Get() const noexcept { return Fd; }
    [[nodiscard]] bool Valid() const noexcept { return Fd >= 0; }
    int Release() noexcept {
        int f = Fd;
        Fd = -1;
        return f;
    }
    void Reset(int NewFd = -1) noexcept;

private:
    int Fd = -1;
};

// Opens the directory Name inside DirFd without following a symbolic link. Returns the
// descriptor, or -1 with errno set.
int OpenDirectoryAt(int DirFd, const char* Name) noexcept;

// Opens the directory Path. Paths longer than PATH_MAX are opened piece by piece. When
// FollowLast is false, a symbolic link as the last component is not followed (ELOOP or
// ENOTDIR). Returns an invalid TFd with Error set to the errno on failure.
TFd OpenDirectory(const std::string& Path, bool FollowLast, int& Error);

// A growable byte buffer that, unlike std::vector<char>, does not zero what it grows into:
// the scanner refills one per directory level for every directory it reads.
class TEntryBuffer {
public:
    [[nodiscard]] const char* Data() const noexcept { return Bytes.get(); }
    [[nodiscard]] std::size_t Size() const noexcept { return Used; }
    [[nodiscard]] bool Empty() const noexcept { return Used == 0; }
    void Clear() noexcept { Used = 0; }
    // Overwrites the type of the entry whose record starts at Record (TDirEntryRef::Record):
    // a walk marks entries another thread took over, so that it skips them itself.
    void SetEntryType(std::size_t Record, unsigned char Type) noexcept;

private:
    friend int ReadDirectoryEntries(int Fd, TEntryBuffer& Buffer);
    std::unique_ptr<char[]> Bytes;
    std::size_t Used = 0;
    std::size_t Capacity = 0;
};

// Reads every entry of the open directory Fd into Buffer (raw getdents64 records, see
// TDirEntryCursor). Returns 0, or the errno of a failed read (what was read before stays).
int ReadDirectoryEntries(int Fd, TEntryBuffer& Buffer);

// One entry of a buffer filled by ReadDirectoryEntries.
struct TDirEntryRef {
    const char* Name;   // NUL-terminated, the bytes the file system returned
    unsigned char Type; // DT_* value; DT_UNKNOWN when the file system does not say
    std::size_t Record; // where the entry's record starts in the buffer
};

// Walks the records of a buffer filled by ReadDirectoryEntries.
class TDirEntryCursor {
public:
    explicit TDirEntryCursor(const TEntryBuffer& Buffer, std::size_t Pos = 0) noexcept
        : Buffer(Buffer), Pos(Pos) {}
    // The next entry other than "." and ".."; false at the end.
    bool Next(TDirEntryRef& Entry) noexcept;
    [[nodiscard]] std::size_t Position() const noexcept { return Pos; }

private:
    const TEntryBuffer& Buffer;
    std::size_t Pos;
};

// The attribute word of an entry: 0x1 read-only (owner write bit clear), 0x2 hidden (name
// starts with "."), 0x4 system (device, FIFO, socket), 0x10 directory, 0x20 archive
// (regular file), 0x400 symbolic link, 0x800 compressed (statx attribute).
[[nodiscard]] std::uint16_t AttributesOf(unsigned Mode, std::uint64_t StatxAttributes,
                                         std::string_view Name) noexcept;

// What a listing reports of one entry.
struct TListedFile {
    std::int64_t Size = 0;       // the length; a symbolic link's own length
    std::int64_t SizeOnDisk = 0; // the bytes allocated (st_blocks x 512)
    std::uint16_t Attributes = 0;
    bool Regular = false;    // a regular file
    std::uint32_t Links = 1; // number of names (hard links)
    std::uint64_t Dev = 0;   // device and inode, which tell the names of one file apart
    std::uint64_t Ino = 0;
};

// Calls Each for every entry of Dir that is not a directory, in the order of the file
// system. Returns 0, or the errno when Dir cannot be opened or read; ECANCELED when Stop
// was set meanwhile.
int ListDirectoryFiles(const std::string& Dir, bool FollowLast,
                       const std::function<void(const char* Name, const TListedFile& File)>& Each,
                       const std::atomic<bool>* Stop = nullptr);

} // namespace qv
