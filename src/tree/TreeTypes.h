#pragma once
// The size tree: directories, files and "Grouped Files" nodes with their sizes and counts.
//
// Threading rule (read this before touching a node from a second thread):
// - A scan thread fills one subtree. It alone writes the sizes, counts, flags (except
//   Expanded) and ScanError of the directories in that subtree, and it appends children
//   under the parent's Lock.
// - The GUI thread reads every field at any time, sets and clears Expanded at any time,
//   loads files (LoadFiles, or EndListFiles after a listing made on a worker, which append
//   under Lock), and writes sizes and counts only of
//   nodes no scan thread works in (UpdateTotals, Delete, Clear before a re-scan).
// - All numeric fields and flags are relaxed atomics, so readers never see a torn value.
//   Name and Parent are written before a node is appended to a list and never again while
//   another thread can reach the node (only a root's name changes, and only before its
//   scan starts or when the same text is written again).
// - Lock guards only the membership of Children. Locks are taken parent before child.
//   The GUI's live totals use TryLockChildren and never wait for a scan thread.
// - Nodes are freed only by RemoveChild (Delete), by Clear of an ancestor, or with the whole
//   tree, all on the GUI thread. A scan thread never frees a node: it creates a directory's
//   "Grouped Files" node only at the second small file, so that no group of one file has
//   to be dissolved while the GUI may hold it.
// - Whether a directory lists its small files itself (Ungrouped) is decided under its Lock,
//   against FilesLoaded and Listing, one of which is set under the same lock before the
//   files are listed: a listing and the grouping never disagree about a file.
// - A listing made on a worker (ListFiles) never touches the node: it gets the path and the
//   filter in a TFileListRequest and returns nodes that belong to no tree yet.
// - The size on disk has no field for a directory's unlisted files (there is no room), so
//   it is kept as one stored total per node that changes only by what is added to it: the
//   scan adds each file to its directory, and a directory that stops being scanned hands
//   its total to its parent (SetScanning); whatever else changes a node's total (Delete,
//   ClearForRescan, UpdateTotals of a node whose files are listed) passes the difference to
//   the ancestors that count the node, up to the first one being scanned, which passes it on
//   when it ends. These hand-overs are serialised among themselves by one lock, so that no
//   total is counted twice or lost between a directory's end and a recount of its parent.
//   While a directory is scanned, its live value adds the live values of its children that
//   are still being scanned to the stored one.
// - A file with several names (hard links) may count at one name only (THardLinkSet); the
//   file nodes of its other names are shown but marked, and count in no total.

#include "tree/HardLinks.h"
#include "tree/MemNodeList.h"
#include "tree/NodeLock.h"
#include "tree/NodeName.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum TNodeType : std::uint8_t {
    ntFixedDrives = 1,
    ntDrive = 2,
    ntFile = 3,
    ntDirectory = 4,
    ntFileGroup = 5,
};

// Bits of TGroupNode::Flags.
enum TNodeFlag : std::uint8_t {
    nfExpanded = 1,
    nfFilesLoaded = 2,
    nfIncomplete = 4,
    nfScanning = 8,
    nfEmpty = 16,
    nfUngrouped = 32,
    // The directory is the mount point of another file system: listed, not entered.
    nfOtherFileSystem = 64,
    // The node's files are being listed on a worker (BeginListFiles .. EndListFiles).
    nfListing = 128,
};

// Attribute bits of a node (the low word of the attribute set the listing reports).
enum TFileAttribute : std::uint16_t {
    faReadOnly = 0x1,
    faHidden = 0x2,
    faSystem = 0x4,
    faDirectory = 0x10,
    faArchive = 0x20,
    faReparsePoint = 0x400,
    faCompressed = 0x800,
};

// Raised by GetRoot (and so by LoadFiles) on a tree whose top node is not a TRootNode.
class ENodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TGroupNode;
class TRootNode;
class TFileNode;

// What a listing of a node's files needs, taken from the node on the GUI thread, so that the
// listing itself can run anywhere while the node may be freed.
struct TFileListRequest {
    std::string Dir;
    // Whether a symbolic link as the last component of Dir is followed (a root's path).
    bool FollowLast = false;
    // The files taken: those of at least Threshold bytes, or with Small those below it.
    std::int64_t Threshold = 0;
    bool Small = false;
    // Set when linked files count once: the set of the tree, and the directory node whose
    // names it knows (only compared, never followed, so the node may be gone meanwhile).
    std::shared_ptr<THardLinkSet> HardLinks;
    const TGroupNode* LinkDir = nullptr;
};

// A listing: the files sorted by name, in no tree yet; Error is the errno when the directory
// could not be listed (ECANCELED when it was stopped).
struct TFileList {
    std::vector<std::unique_ptr<TFileNode>> Files;
    int Error = 0;
};

// Lists what Request asks for. Any thread; Stop, when given, ends the listing early.
[[nodiscard]] TFileList ListFiles(const TFileListRequest& Request,
                                  const std::atomic<bool>* Stop = nullptr);

class TFileSystemNode {
public:
    TFileSystemNode(const TFileSystemNode&) = delete;
    TFileSystemNode& operator=(const TFileSystemNode&) = delete;
    virtual ~TFileSystemNode() = default;

    // --- virtual operations -------------------------------------------------------------
    // Number of files in the subtree (1 for a file).
    [[nodiscard]] virtual std::int32_t GetFileCount() const = 0;
    virtual void SetFileCount(std::int32_t Value) = 0;
    // Name := the last component of Path (a trailing "/" is ignored); a root keeps the path.
    virtual void SetPath(std::string_view Path);
    // Resets name, size, attributes and error; group nodes also free their children.
    virtual void Clear();
    [[nodiscard]] virtual TNodeType GetNodeType() const { return ntFile; }
    // The text the view shows for the node.
    [[nodiscard]] virtual std::string GetDisplayName() const { return std::string(Name()); }
    // Bytes in the subtree: stored, or computed live while a directory is being scanned.
    [[nodiscard]] virtual std::int64_t GetSize() const { return LoadRelaxed(Size); }
    virtual void AddSize(std::int64_t Value) { AddRelaxed(Size, Value); }
    // Bytes allocated on disk for the subtree (st_blocks x 512): stored, or computed live
    // while a directory is being scanned. Kept in whole 512-byte units.
    [[nodiscard]] virtual std::int64_t GetSizeOnDisk() const { return StoredSizeOnDisk(); }
    // Adds Value (a multiple of 512) to the stored size on disk; safe against writers of
    // the attribute word it shares.
    virtual void AddSizeOnDisk(std::int64_t Value) noexcept { AddSizeOnDiskUnits(Value / 512); }
    // The class name, for messages.
    [[nodiscard]] virtual const char* ClassName() const = 0;

    // --- non-virtual operations ---------------------------------------------------------
    // The file system path of the node: the names from the top down joined by "/", leaving
    // out "Grouped Files" nodes and stopping below a TFixedDrivesNode.
    [[nodiscard]] std::string GetFullPath() const;
    // The top node of the tree; throws ENodeError when it is not a TRootNode.
    [[nodiscard]] TRootNode& GetRoot() const;
    // The first node after this one in the parent's list for which Matches is true; nullptr
    // when there is none, no parent, or this node is not in the list. Takes the parent's lock.
    [[nodiscard]] TFileSystemNode*
    FindNextSibling(const std::function<bool(const TFileSystemNode&)>& Matches) const;
    template <class T> [[nodiscard]] T* FindNextSibling() const {
        return static_cast<T*>(FindNextSibling(
            [](const TFileSystemNode& n) { return dynamic_cast<const T*>(&n) != nullptr; }));
    }
    // Removes this node from its parent, frees it, and updates the totals of the former
    // ancestors. A top node is left alone. The object must not be used after the call.
    void Delete();

    [[nodiscard]] TGroupNode* Parent() const noexcept { return ParentNode; }
    [[nodiscard]] std::string_view Name() const noexcept { return NodeName.View(); }
    [[nodiscard]] const char* NameCStr() const noexcept { return NodeName.CStr(); }
    void SetName(std::string_view Value) { NodeName.Assign(Value); }
    // The stored size, as the scan left it (GetSize is what a reader normally wants).
    [[nodiscard]] std::int64_t StoredSize() const noexcept { return LoadRelaxed(Size); }
    void SetSize(std::int64_t Value) noexcept { Size.store(Value, std::memory_order_relaxed); }
    // The stored size on disk, as the scan left it (GetSizeOnDisk is what a reader wants).
    [[nodiscard]] std::int64_t StoredSizeOnDisk() const noexcept {
        return (std::int64_t(LoadRelaxed(AttrsAndBlocks)) >> 16) * 512;
    }
    void SetSizeOnDisk(std::int64_t Value) noexcept;
    [[nodiscard]] std::uint16_t Attributes() const noexcept {
        return std::uint16_t(LoadRelaxed(AttrsAndBlocks));
    }
    void SetAttributes(std::uint16_t Value) noexcept;
    // 0, or the errno of opening the directory's listing; values beyond 16 bits become 1.
    [[nodiscard]] std::int16_t ScanError() const noexcept { return LoadRelaxed(Error); }
    void SetScanError(int Value) noexcept;
    // Cached icon index of the view; -1 until looked up.
    [[nodiscard]] std::int16_t ImageIndex() const noexcept { return LoadRelaxed(Image); }
    void SetImageIndex(std::int16_t Value) noexcept {
        Image.store(Value, std::memory_order_relaxed);
    }
    [[nodiscard]] bool IsHidden() const noexcept { return Attributes() & faHidden; }
    [[nodiscard]] bool IsSystem() const noexcept { return Attributes() & faSystem; }
    [[nodiscard]] bool IsCompressed() const noexcept { return Attributes() & faCompressed; }
    // True for TGroupNode and its descendants, without a dynamic_cast.
    [[nodiscard]] bool IsGroupNode() const noexcept { return Kind != nkFile; }
    [[nodiscard]] bool IsFileGroup() const noexcept { return Kind == nkFileGroup; }

protected:
    // Cheap type tag, so that hot paths (live totals, paths) need no virtual call.
    enum TNodeKind : std::uint8_t { nkFile, nkDirectory, nkFileGroup, nkRootDir, nkFixedDrives };
    explicit TFileSystemNode(TNodeKind Kind) noexcept : Kind(Kind) {}

    template <class T> static T LoadRelaxed(const std::atomic<T>& a) noexcept {
        return a.load(std::memory_order_relaxed);
    }
    // Single-writer add: each counter has one writing thread at a time, so a plain load and
    // store is enough and avoids a locked instruction per file in the scan.
    template <class T> static void AddRelaxed(std::atomic<T>& a, T v) noexcept {
        a.store(a.load(std::memory_order_relaxed) + v, std::memory_order_relaxed);
    }

    TNodeKind NodeKind() const noexcept { return Kind; }

    // Adds Units 512-byte units to the size on disk in one atomic step on the whole word,
    // so that a concurrent change of the attributes is never lost.
    void AddSizeOnDiskUnits(std::int64_t Units) noexcept {
        AttrsAndBlocks.fetch_add(std::uint64_t(Units) << 16, std::memory_order_relaxed);
    }
    // Adds Delta to the size on disk of every ancestor that counts this node, up to and
    // including the first one being scanned (its own end passes the total on). With Gone,
    // the files left the disk: a directory that counts its grouped files as its own unlisted
    // files loses them too. The caller holds SizeOnDiskLock().
    void PassSizeOnDiskUp(std::int64_t Delta, bool Gone = false) const noexcept;

private:
    friend class TGroupNode;
    friend class TFileGroupNode;

    TGroupNode* ParentNode = nullptr;
    TNodeName NodeName;
    std::atomic<std::int64_t> Size{0};
    // The attribute word in the low 16 bits, the size on disk in 512-byte units (signed) in
    // the high 48: one word, so that a directory node keeps its allocation size.
    std::atomic<std::uint64_t> AttrsAndBlocks{0};
    std::atomic<std::int16_t> Error{0};
    std::atomic<std::int16_t> Image{-1};
    const TNodeKind Kind;
};

// One file; exists only after its directory was opened (LoadFiles).
class TFileNode final : public TFileSystemNode {
public:
    TFileNode() noexcept : TFileSystemNode(nkFile) {}
    [[nodiscard]] std::int32_t GetFileCount() const override { return 1; }
    void SetFileCount(std::int32_t) override {}
    [[nodiscard]] const char* ClassName() const override { return "TFileNode"; }

    // Set for a name of a linked file that another name counts for: the node shows its
    // size but counts in no total.
    [[nodiscard]] bool IsUncountedLink() const noexcept {
        return Uncounted.load(std::memory_order_relaxed);
    }
    void SetUncountedLink(bool Value) noexcept {
        Uncounted.store(Value, std::memory_order_relaxed);
    }

private:
    std::atomic<bool> Uncounted{false};
};

// The lock that serialises the hand-overs of sizes on disk between nodes (see the top).
[[nodiscard]] std::mutex& SizeOnDiskLock() noexcept;

// RAII holder of a group node's child lock (LockChildren / UnlockChildren).
class TChildrenLock;

// A node with children: a directory or a "Grouped Files" node.
class TGroupNode : public TFileSystemNode {
public:
    ~TGroupNode() override;

    [[nodiscard]] std::int32_t GetFileCount() const override;
    void SetFileCount(std::int32_t Value) override {
        FileCount.store(Value, std::memory_order_relaxed);
    }
    void Clear() override;
    [[nodiscard]] TNodeType GetNodeType() const override { return ntDirectory; }
    [[nodiscard]] std::int64_t GetSize() const override;
    [[nodiscard]] std::int64_t GetSizeOnDisk() const override;

    // The Scanning flag (a file group follows its directory).
    [[nodiscard]] virtual bool IsScanning() const { return HasFlag(nfScanning); }
    // Whether a file of this length is listed as a child of this node by LoadFiles.
    [[nodiscard]] virtual bool AcceptsFile(std::int64_t FileSize) const = 0;
    virtual void SetScanning(bool Value) { SetFlag(nfScanning, Value); }
    virtual void AddFileCount(std::int32_t Value) { AddRelaxed(FileCount, Value); }
    // Bytes of files directly in this directory that are not child nodes.
    virtual void AddFilesSize(std::int64_t Value);
    // Creates the file nodes of this node once: the number added, or -1 when they were
    // loaded before. A directory that cannot be listed adds none and stays unloaded, so
    // its totals keep its files and a later call tries again. Runs on the GUI thread.
    virtual std::int32_t LoadFiles();
    // LoadFiles in three steps, so that the listing can run on a worker: BeginListFiles marks
    // the node as being listed and fills Request (false when its files are loaded or being
    // listed); ListFiles runs anywhere; EndListFiles appends the result and returns the
    // number added (0 when the directory could not be listed: the node stays unloaded).
    // A listing that will never end is dropped with CancelListFiles. GUI thread, but for
    // ListFiles.
    bool BeginListFiles(TFileListRequest& Request);
    virtual std::int32_t EndListFiles(TFileList& List);
    void CancelListFiles() noexcept { SetFlag(nfListing, false); }
    [[nodiscard]] bool IsListingFiles() const noexcept { return HasFlag(nfListing); }
    // Whether the scan thread must keep the grouping as it is: the files are loaded or being
    // listed. Read under the lock when it matters.
    [[nodiscard]] bool IsFileListFixed() const noexcept {
        return Flags() & (nfFilesLoaded | nfListing);
    }
    // Stores the live totals as the node's own, unless the node is being scanned.
    virtual void UpdateTotals();

    // Appends Node (taking ownership) under the lock and returns its index.
    int AddChild(TFileSystemNode* Node);
    // Creates a directory child, complete with name and attributes, and appends it.
    class TDirNode* AddDirectory(std::string_view Name, std::uint16_t Attributes);
    // Removes and frees Node if it is a child; otherwise nothing happens.
    void RemoveChild(TFileSystemNode* Node);
    // The child at Index without locking: hold the lock while another thread may append.
    [[nodiscard]] TFileSystemNode* GetChild(int Index) const { return Children.GetItem(Index); }
    // Number of children, read under the lock.
    [[nodiscard]] int ChildCount() const;
    // Unlocked hint: whether the list has entries.
    [[nodiscard]] bool HasChildren() const noexcept { return Children.Count() > 0; }
    TMemNodeList& LockChildren() const;
    void UnlockChildren() const noexcept { Lock.unlock(); }
    // Takes the lock only if it is free; nullptr when it is busy.
    [[nodiscard]] TMemNodeList* TryLockChildren() const;

    // Live totals: the node's own unlisted files plus every child, skipping children whose
    // list is locked at the moment (the answer is then a little low, never blocked).
    [[nodiscard]] std::int64_t ComputeSize() const;
    [[nodiscard]] std::int32_t ComputeFileCount() const;
    // The stored size on disk plus the live values of the child directories still being
    // scanned (the others have handed theirs over); never blocked either.
    [[nodiscard]] std::int64_t ComputeSizeOnDisk() const;
    // UpdateTotals on this node and each group ancestor.
    void UpdateTotalsUpward();
    // The node whose full path is Path, searched below this node by whole path components
    // and with case; nullptr when there is none.
    [[nodiscard]] TFileSystemNode* FindNodeByPath(std::string_view Path) const;
    // Forgets the files directly in this directory that are not child nodes (size and count).
    void ResetFilesSize() noexcept;
    [[nodiscard]] std::int64_t GetFilesSize() const noexcept;
    // Number of files directly in this directory that are not child nodes (kept so that
    // UpdateTotals cannot lose them); 0 for a "Grouped Files" node, which has no own files.
    [[nodiscard]] std::int32_t GetFilesCount() const noexcept;
    [[nodiscard]] std::int32_t StoredFileCount() const noexcept { return LoadRelaxed(FileCount); }

    [[nodiscard]] std::uint8_t Flags() const noexcept { return LoadRelaxed(FlagBits); }
    [[nodiscard]] bool HasFlag(TNodeFlag Flag) const noexcept { return Flags() & Flag; }
    // Atomic bit operations, so the GUI's Expanded and the scanner's bits never overwrite
    // each other.
    void SetFlag(TNodeFlag Flag, bool Value) noexcept {
        if (Value)
            FlagBits.fetch_or(Flag, std::memory_order_relaxed);
        else
            FlagBits.fetch_and(std::uint8_t(~Flag), std::memory_order_relaxed);
    }
    [[nodiscard]] bool IsExpanded() const noexcept { return HasFlag(nfExpanded); }
    void SetExpanded(bool Value) noexcept { SetFlag(nfExpanded, Value); }
    [[nodiscard]] bool IsFilesLoaded() const noexcept { return HasFlag(nfFilesLoaded); }
    [[nodiscard]] bool IsIncomplete() const noexcept { return HasFlag(nfIncomplete); }
    void SetIncomplete(bool Value) noexcept { SetFlag(nfIncomplete, Value); }
    [[nodiscard]] bool IsEmpty() const noexcept { return HasFlag(nfEmpty); }
    void SetEmpty(bool Value) noexcept { SetFlag(nfEmpty, Value); }
    [[nodiscard]] bool IsUngrouped() const noexcept { return HasFlag(nfUngrouped); }
    [[nodiscard]] bool IsOtherFileSystem() const noexcept { return HasFlag(nfOtherFileSystem); }

    // Whether Child's totals are left out of this node's: a "Grouped Files" child while the
    // directory's files are not listed (see .cpp), and a name of a linked file that another
    // name counts for.
    [[nodiscard]] bool SkipsInTotals(const TFileSystemNode& Child) const noexcept;

protected:
    explicit TGroupNode(TNodeKind Kind) noexcept : TFileSystemNode(Kind) {}
    // Keeps the bits of Keep, clears the others, then sets those of Set.
    void ResetFlags(std::uint8_t Keep, std::uint8_t Set) noexcept {
        FlagBits.fetch_and(Keep, std::memory_order_relaxed);
        FlagBits.fetch_or(Set, std::memory_order_relaxed);
    }
    // Clears Flag and tells whether it was set.
    bool TakeFlag(TNodeFlag Flag) noexcept {
        return FlagBits.fetch_and(std::uint8_t(~Flag), std::memory_order_relaxed) & Flag;
    }

    // Moves List's entries to the end of Into; List is left empty and frees none of them.
    static void TakeChildren(TMemNodeList& List, std::vector<TFileSystemNode*>& Into);
    // Sets Parent of each file node and appends them all under one lock.
    friend std::int32_t ScanForChildrenFiles(const std::string& Dir, TGroupNode& Node,
                                             const std::function<bool(std::int64_t)>& Filter);
    // Appends the files of List under one lock; with Loaded, FilesLoaded is set in the same
    // hold, so that the totals never count the files twice or not at all.
    std::int32_t AppendFiles(TFileList& List, bool Loaded);

private:
    std::atomic<std::uint8_t> FlagBits{0};
    mutable TNodeLock Lock;
    std::atomic<std::int32_t> FileCount{0};
    // Its padding holds the first field of TDirNode.
    [[no_unique_address]] TMemNodeList Children{true};
};

class TFileGroupNode;

// A directory. Created with Empty set; the scanner clears it at the first entry.
class TDirNode : public TGroupNode {
public:
    TDirNode() noexcept : TDirNode(nkDirectory) {}
    ~TDirNode() override;

    void Clear() override;
    // Frees the children and resets totals, error and flags for a re-scan; unlike Clear it
    // keeps the name, attributes, icon and Expanded, which the GUI may be showing. Its size
    // on disk leaves the ancestors' (the end of the scan brings the new one), and the linked
    // files first met below it are forgotten.
    void ClearForRescan();
    [[nodiscard]] bool AcceptsFile(std::int64_t FileSize) const override;
    // Ends or starts the scan of this directory; ending it hands the size on disk to the
    // ancestors and dissolves a group of one file unless the directory or the group has been
    // opened.
    void SetScanning(bool Value) override;
    // The end of a scan that met exactly one small file and made no group for it: the
    // directory lists it with its other files, or, when the directory was opened meanwhile
    // (and so listed without it), a group of that one file is made after all.
    void SettleSingleSmallFile(std::int64_t FileSize, std::int64_t SizeOnDisk = 0);
    [[nodiscard]] const char* ClassName() const override { return "TDirNode"; }

    // The directory's "Grouped Files" child, created on first use (scan thread only).
    TFileGroupNode* GetFileGroup();
    [[nodiscard]] TFileGroupNode* FileGroup() const noexcept {
        return Group.load(std::memory_order_relaxed);
    }
    void AddFilesCount(std::int32_t Value) noexcept { AddRelaxed(FilesCount, Value); }

protected:
    explicit TDirNode(TNodeKind Kind) noexcept : TGroupNode(Kind) { SetFlag(nfEmpty, true); }

private:
    friend class TGroupNode;
    // Kept here, not in TGroupNode: a "Grouped Files" node has no own files, and without the
    // fields it fits a smaller allocation; there is one per directory with small files.
    std::atomic<std::int32_t> FilesCount{0};
    std::atomic<std::int64_t> FilesSize{0};
    std::atomic<TFileGroupNode*> Group{nullptr};
};

// The top of a tree; carries the grouping threshold.
class TRootNode : public TDirNode {
public:
    // Files strictly smaller than this are grouped; 0 means no grouping.
    [[nodiscard]] std::int64_t GroupFileSize() const noexcept { return LoadRelaxed(GroupSize); }
    void SetGroupFileSize(std::int64_t Value) noexcept {
        GroupSize.store(Value, std::memory_order_relaxed);
    }

protected:
    explicit TRootNode(TNodeKind Kind) noexcept : TDirNode(Kind) {}

private:
    std::atomic<std::int64_t> GroupSize{0};
};

// The top node of a scan of one directory or drive, and each drive of "Local Drives".
// Its name is the whole path it stands for.
class TRootDirNode final : public TRootNode {
public:
    TRootDirNode() noexcept : TRootNode(nkRootDir) {}

    // Name := Path unchanged; then the volume label (when Path is a mount point) and the
    // free space are queried.
    void SetPath(std::string_view Path) override;
    void Clear() override;
    // ntDrive when the name is the mount point of a listed drive, else ntDirectory; cached.
    [[nodiscard]] TNodeType GetNodeType() const override;
    // "Label (/mount/point)" when the volume has a label, else the name.
    [[nodiscard]] std::string GetDisplayName() const override;
    void UpdateTotals() override;
    [[nodiscard]] const char* ClassName() const override { return "TRootDirNode"; }

    // Queries the free bytes of the volume of Name; a failure keeps the old value.
    void UpdateFreeSpace();
    [[nodiscard]] std::string VolumeName() const;
    [[nodiscard]] std::int64_t FreeSpace() const noexcept { return LoadRelaxed(Free); }
    // The linked files met below this node; shared, so that a listing on a worker keeps it.
    [[nodiscard]] const std::shared_ptr<THardLinkSet>& HardLinks() const noexcept {
        return LinkSet;
    }

private:
    const std::shared_ptr<THardLinkSet> LinkSet = std::make_shared<THardLinkSet>();
    mutable std::mutex VolumeLock; // guards VolumeLabel: written by a scan thread
    std::string VolumeLabel;
    std::atomic<std::int64_t> Free{0};
    mutable std::atomic<std::uint8_t> CachedNodeType{0};
};

// The top node of a scan of all local drives ("Local Drives"); its children are one
// TRootDirNode per fixed drive, created with the node.
class TFixedDrivesNode final : public TRootNode {
public:
    // Lists the fixed drives of the mount table.
    TFixedDrivesNode();
    // Uses the given drive roots instead of the mount table.
    explicit TFixedDrivesNode(const std::vector<std::string>& DriveRoots);

    [[nodiscard]] TNodeType GetNodeType() const override { return ntFixedDrives; }
    [[nodiscard]] std::string GetDisplayName() const override;
    std::int32_t LoadFiles() override;
    [[nodiscard]] const char* ClassName() const override { return "TFixedDrivesNode"; }

private:
    std::int32_t AddDrives(const std::vector<std::string>& DriveRoots);
};

// The "Grouped Files" node of one directory: the files smaller than the root's threshold.
class TFileGroupNode final : public TGroupNode {
public:
    TFileGroupNode();

    [[nodiscard]] TNodeType GetNodeType() const override { return ntFileGroup; }
    void AddSize(std::int64_t Value) override;
    void AddSizeOnDisk(std::int64_t Value) noexcept override;
    [[nodiscard]] bool IsScanning() const override;
    [[nodiscard]] bool AcceptsFile(std::int64_t FileSize) const override;
    void AddFileCount(std::int32_t Value) override;
    void AddFilesSize(std::int64_t Value) override;
    std::int32_t EndListFiles(TFileList& List) override;
    [[nodiscard]] const char* ClassName() const override { return "TFileGroupNode"; }
};

// RAII form of LockChildren / UnlockChildren.
class TChildrenLock {
public:
    explicit TChildrenLock(const TGroupNode& Node) : Node(Node), List(Node.LockChildren()) {}
    ~TChildrenLock() { Node.UnlockChildren(); }
    TChildrenLock(const TChildrenLock&) = delete;
    TChildrenLock& operator=(const TChildrenLock&) = delete;
    [[nodiscard]] TMemNodeList& Children() const noexcept { return List; }

private:
    const TGroupNode& Node;
    TMemNodeList& List;
};

// Lists the files (not directories) of Dir that Filter accepts, sorted by name, and appends
// them to Node as TFileNodes under its lock; resets Node's unlisted files. Returns the
// number added; 0 when Dir cannot be listed.
std::int32_t ScanForChildrenFiles(const std::string& Dir, TGroupNode& Node,
                                  const std::function<bool(std::int64_t)>& Filter);

// Joins a directory path and a name with one "/" ("/" and "usr" give "/usr").
[[nodiscard]] std::string JoinPath(std::string_view Dir, std::string_view Name);
// Whether Node lies strictly below Outer in its tree.
[[nodiscard]] bool IsInside(const TFileSystemNode& Node, const TFileSystemNode& Outer) noexcept;

// The memory budget of a node; a tree holds one TDirNode per directory.
static_assert(sizeof(TFileNode) == 48);
static_assert(sizeof(TDirNode) == 88);
static_assert(sizeof(TFileGroupNode) == 72);

} // namespace qv
