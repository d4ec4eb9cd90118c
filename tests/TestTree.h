#pragma once
// Real directory trees for tests: made in a fresh temporary folder, removed afterwards.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qv {
class TGroupNode;
}

namespace qv::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    [[nodiscard]] const std::string& Path() const noexcept { return Root; }
    // Path of a relative name inside the folder.
    [[nodiscard]] std::string operator/(const std::string& Rel) const { return Root + "/" + Rel; }

    // Creates the directory Rel and its missing parents.
    void MkDir(const std::string& Rel) const;
    // Creates (or replaces) a file of Size bytes, sparse, creating its directory.
    void File(const std::string& Rel, std::int64_t Size) const;
    // The same with Size bytes really written, so that the file has its blocks on disk.
    void Data(const std::string& Rel, std::int64_t Size) const;
    // Gives the file Target (relative) a further name Rel (a hard link).
    void HardLink(const std::string& Target, const std::string& Rel) const;
    void Symlink(const std::string& Target, const std::string& Rel) const;
    void Fifo(const std::string& Rel) const;
    void Chmod(const std::string& Rel, unsigned Mode) const;

private:
    std::string Root;
};

// What lstat tells of a directory's subtree: the lengths, the bytes allocated
// (st_blocks x 512) and the number of entries that are not directories.
struct TDiskSums {
    std::int64_t Size = 0;
    std::int64_t OnDisk = 0;
    std::int32_t Files = 0;
    bool operator==(const TDiskSums&) const = default;
};

// The sums of every directory at and below Root by its path, walked the way the scanner
// walks (each directory's entries in the order it lists them, a sub-directory entered where
// it comes). With Once, a regular file with several names counts only at the first met.
std::map<std::string, TDiskSums> DiskSums(const std::string& Root, bool Once);

// Makes a chain of Levels nested directories "d" below Dir, each holding a 1-byte file "f".
void MakeChain(const std::string& Dir, int Levels);

// Every directory and group node at and below Root, parents first.
std::vector<TGroupNode*> Groups(TGroupNode& Root);

// Removes a tree of any depth without following symbolic links.
void RemoveTree(const std::string& Path);

// Runs Body in a forked child that dropped root privileges (to "nobody") when the test runs
// as root, so that permission bits really apply. Returns what Body returned as the child's
// exit status (0..255), or -1 when the child died otherwise.
int RunUnprivileged(const std::function<int()>& Body);

// Moves this process into a mount namespace of its own with "/" made private, so that what
// it mounts no other process sees and nothing is left behind. Only while the process has a
// single thread (a namespace-scope initialiser of a test program). False when refused.
bool EnterPrivateMountNamespace();

// Runs Body in a forked child in a private mount namespace, so that its mounts vanish with
// it. Returns the child's exit status; 77 means the system refused the namespace.
int InMountNamespace(const std::function<int()>& Body);

// The number of this process's threads named Name (as pthread_setname_np sets it) that are
// still alive.
int LiveThreads(const std::string& Name);

// Points XDG_CONFIG_HOME at a fresh temporary folder for the whole test program (a gtest
// environment), so that the settings the scan threads read are never the user's. Returns
// true, for use in a namespace-scope initialiser.
bool UsePrivateConfigHome();

} // namespace qv::test
