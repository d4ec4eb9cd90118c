#include "tree/TreeTypes.h"

#include "platform/Drives.h"
#include "support/Translate.h"

#include <memory>
#include <mutex>

namespace qv {

namespace {

// The text after the last "/", ignoring trailing ones; "/" itself stays "/".
std::string_view LastComponent(std::string_view Path) {
    while (Path.size() > 1 && Path.back() == '/')
        Path.remove_suffix(1);
    if (Path == "/")
        return Path;
    const std::size_t slash = Path.rfind('/');
    return slash == std::string_view::npos ? Path : Path.substr(slash + 1);
}

// True when Prefix is Path or one of its ancestors, compared by whole components.
bool IsPathPrefix(std::string_view Prefix, std::string_view Path) {
    if (!Path.starts_with(Prefix))
        return false;
    return Path.size() == Prefix.size() || (!Prefix.empty() && Prefix.back() == '/') ||
           Path[Prefix.size()] == '/';
}

std::string FormatClassError(const char* ClassName) {
    std::string text = Tr("The root element has an invalid type: %s");
    const std::size_t at = text.find("%s");
    if (at == std::string::npos)
        return text + ' ' + ClassName;
    return text.replace(at, 2, ClassName);
}

} // namespace

std::mutex& SizeOnDiskLock() noexcept {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<THardLinkSet> HardLinkSetOf(const TFileSystemNode& Node) {
    for (const TFileSystemNode* n = &Node; n; n = n->Parent())
        if (const auto* root = dynamic_cast<const TRootDirNode*>(n))
            return root->HardLinks();
    return nullptr;
}

std::string JoinPath(std::string_view Dir, std::string_view Name) {
    std::string path;
    path.reserve(Dir.size() + 1 + Name.size());
    path.append(Dir);
    if (!Dir.empty() && Dir.back() != '/')
        path += '/';
    path.append(Name);
    return path;
}

// --- TFileSystemNode ---------------------------------------------------------------------

void TFileSystemNode::SetPath(std::string_view Path) {
    const std::string_view name = LastComponent(Path);
    // Writing the same text again is what a re-scan does; skipping it keeps the name stable
    // for the GUI thread, which may be reading it.
    if (name != Name())
        SetName(name);
}

void TFileSystemNode::Clear() {
    NodeName.Assign({});
    SetSize(0);
    AttrsAndBlocks.store(0, std::memory_order_relaxed);
    SetScanError(0);
    SetImageIndex(-1);
}

void TFileSystemNode::SetSizeOnDisk(std::int64_t Value) noexcept {
    std::uint64_t word = AttrsAndBlocks.load(std::memory_order_relaxed);
    while (!AttrsAndBlocks.compare_exchange_weak(
        word, (std::uint64_t(Value / 512) << 16) | (word & 0xFFFF), std::memory_order_relaxed))
        ;
}

void TFileSystemNode::SetAttributes(std::uint16_t Value) noexcept {
    std::uint64_t word = AttrsAndBlocks.load(std::memory_order_relaxed);
    while (!AttrsAndBlocks.compare_exchange_weak(word, (word & ~std::uint64_t(0xFFFF)) | Value,
                                                 std::memory_order_relaxed))
        ;
}

void TFileSystemNode::PassSizeOnDiskUp(std::int64_t Delta, bool Gone) const noexcept {
    if (Delta == 0)
        return;
    const TFileSystemNode* child = this;
    for (TGroupNode* up = Parent(); up; child = up, up = up->Parent()) {
        const bool skipped = up->SkipsInTotals(*child);
        // A directory's grouped files are its own unlisted files: a listing of them changes
        // nothing there, but files that left the disk leave its total too.
        if (skipped && !(Gone && child->IsFileGroup()))
            return;
        // A directory being scanned counts its files itself, and its sub-directories when
        // they end: only a change inside a finished sub-directory is its business.
        const bool scanning = up->IsScanning();
        if (scanning && (child->NodeKind() == nkFile || child->IsFileGroup()))
            return;
        up->AddSizeOnDiskUnits(Delta / 512);
        if (scanning)
            return;
    }
}

void TFileSystemNode::SetScanError(int Value) noexcept {
    if (Value < INT16_MIN || Value > INT16_MAX)
        Value = 1;
    Error.store(std::int16_t(Value), std::memory_order_relaxed);
}

std::string TFileSystemNode::GetFullPath() const {
    // Collected first and joined once: a tree can be thousands of levels deep.
    std::vector<std::string_view> names{Name()};
    for (const TGroupNode* p = Parent(); p && p->Kind != nkFixedDrives; p = p->Parent())
        if (p->Kind != nkFileGroup)
            names.push_back(p->Name());
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (it != names.rbegin() && !path.empty() && path.back() != '/')
            path += '/';
        path.append(*it);
    }
    return path;
}

TRootNode& TFileSystemNode::GetRoot() const {
    const TFileSystemNode* top = this;
    while (top->Parent())
        top = top->Parent();
    if (top->Kind != nkRootDir && top->Kind != nkFixedDrives)
        throw ENodeError(FormatClassError(top->ClassName()));
    return const_cast<TRootNode&>(static_cast<const TRootNode&>(*top));
}

TFileSystemNode*
TFileSystemNode::FindNextSibling(const std::function<bool(const TFileSystemNode&)>& Matches) const {
    const TGroupNode* parent = Parent();
    if (!parent)
        return nullptr;
    TChildrenLock guard(*parent);
    const auto items = guard.Children().Items();
    bool seen = false;
    for (TFileSystemNode* node : items) {
        if (seen && Matches(*node))
            return node;
        if (node == this)
            seen = true;
    }
    return nullptr;
}

void TFileSystemNode::Delete() {
    TGroupNode* parent = Parent();
    if (!parent)
        return;
    const bool counted = !parent->SkipsInTotals(*this) || IsFileGroup();
    if (counted) {
        std::lock_guard guard(SizeOnDiskLock());
        PassSizeOnDiskUp(-StoredSizeOnDisk(), true);
    }
    // A directory that has not listed its files counts its grouped ones as its own unlisted
    // files: those that go leave them.
    const TGroupNode* group = IsFileGroup()           ? static_cast<const TGroupNode*>(this)
                              : parent->IsFileGroup() ? parent
                                                      : nullptr;
    TGroupNode* dir = group ? group->Parent() : nullptr;
    if (counted && dir && !dir->IsFileGroup() && !dir->IsFilesLoaded()) {
        auto* owner = static_cast<TDirNode*>(dir);
        owner->AddFilesSize(-StoredSize());
        owner->AddFilesCount(
            -(group == this ? static_cast<const TGroupNode*>(this)->StoredFileCount() : 1));
    }
    if (const std::shared_ptr<THardLinkSet> links = HardLinkSetOf(*this)) {
        if (IsGroupNode())
            links->Forget(static_cast<const TGroupNode&>(*this));
        else
            links->ForgetName(parent->IsFileGroup() ? parent->Parent() : parent, Name());
    }
    parent->RemoveChild(this); // frees this object: touch no member from here on
    parent->UpdateTotalsUpward();
}

// --- TGroupNode --------------------------------------------------------------------------

TGroupNode::~TGroupNode() {
    // Without recursion: a chain of directories as deep as the scanner walks would overflow
    // the stack one destructor inside the next. Every group node below is emptied into
    // Pending before it is freed, so each one that is freed has no children left.
    std::vector<TFileSystemNode*> pending;
    {
        TChildrenLock guard(*this);
        TakeChildren(guard.Children(), pending);
    }
    while (!pending.empty()) {
        TFileSystemNode* node = pending.back();
        pending.pop_back();
        if (node->IsGroupNode()) {
            auto* group = static_cast<TGroupNode*>(node);
            TChildrenLock guard(*group);
            TakeChildren(guard.Children(), pending);
        }
        delete node;
    }
}

void TGroupNode::TakeChildren(TMemNodeList& List, std::vector<TFileSystemNode*>& Into) {
    for (TFileSystemNode* child : List.Items())
        Into.push_back(child);
    List.Release();
}

std::int32_t TGroupNode::GetFileCount() const {
    return IsScanning() ? ComputeFileCount() : LoadRelaxed(FileCount);
}

std::int64_t TGroupNode::GetSize() const {
    return IsScanning() || IsIncomplete() ? ComputeSize() : StoredSize();
}

std::int64_t TGroupNode::GetSizeOnDisk() const {
    return IsScanning() ? ComputeSizeOnDisk() : StoredSizeOnDisk();
}

void TGroupNode::Clear() {
    TFileSystemNode::Clear();
    {
        TChildrenLock guard(*this);
        guard.Children().Clear();
    }
    FileCount.store(0, std::memory_order_relaxed);
    ResetFilesSize();
}

void TGroupNode::ResetFilesSize() noexcept {
    if (IsFileGroup())
        return;
    auto* dir = static_cast<TDirNode*>(this);
    dir->FilesSize.store(0, std::memory_order_relaxed);
    dir->FilesCount.store(0, std::memory_order_relaxed);
}

void TGroupNode::AddFilesSize(std::int64_t Value) {
    if (!IsFileGroup())
        AddRelaxed(static_cast<TDirNode*>(this)->FilesSize, Value);
}

std::int64_t TGroupNode::GetFilesSize() const noexcept {
    return IsFileGroup() ? 0 : LoadRelaxed(static_cast<const TDirNode*>(this)->FilesSize);
}

std::int32_t TGroupNode::GetFilesCount() const noexcept {
    return IsFileGroup() ? 0 : LoadRelaxed(static_cast<const TDirNode*>(this)->FilesCount);
}

bool TGroupNode::SkipsInTotals(const TFileSystemNode& Child) const noexcept {
    // While a directory's files are not child nodes, its own-file totals already hold the
    // bytes and count of its small files; its "Grouped Files" child holds a second copy.
    if (Child.NodeKind() == nkFile)
        return static_cast<const TFileNode&>(Child).IsUncountedLink();
    return Child.IsFileGroup() && !IsFilesLoaded();
}

std::int64_t TGroupNode::ComputeSize() const {
    std::int64_t size = IsFilesLoaded() ? 0 : GetFilesSize();
    if (HasChildren())
        if (TMemNodeList* list = TryLockChildren()) {
            for (const TFileSystemNode* child : list->Items())
                if (!SkipsInTotals(*child))
                    size += child->GetSize();
            UnlockChildren();
        }
    return size;
}

std::int64_t TGroupNode::ComputeSizeOnDisk() const {
    std::int64_t size = StoredSizeOnDisk();
    if (HasChildren())
        if (TMemNodeList* list = TryLockChildren()) {
            for (const TFileSystemNode* child : list->Items())
                if (child->IsGroupNode() && !child->IsFileGroup() &&
                    static_cast<const TGroupNode*>(child)->IsScanning())
                    size += child->GetSizeOnDisk();
            UnlockChildren();
        }
    return size;
}

std::int32_t TGroupNode::ComputeFileCount() const {
    std::int32_t count = IsFilesLoaded() ? 0 : GetFilesCount();
    if (HasChildren())
        if (TMemNodeList* list = TryLockChildren()) {
            for (const TFileSystemNode* child : list->Items())
                if (!SkipsInTotals(*child))
                    count += child->GetFileCount();
            UnlockChildren();
        }
    return count;
}

void TGroupNode::UpdateTotals() {
    if (IsScanning())
        return;
    std::lock_guard handOver(SizeOnDiskLock());
    // Unlike the live getters this waits for the lock: a skipped child would be stored.
    const bool loaded = IsFilesLoaded();
    std::int64_t size = loaded ? 0 : GetFilesSize();
    std::int32_t count = loaded ? 0 : GetFilesCount();
    std::int64_t onDisk = 0;
    {
        TChildrenLock guard(*this);
        for (const TFileSystemNode* child : guard.Children().Items())
            if (!SkipsInTotals(*child)) {
                size += child->GetSize();
                count += child->GetFileCount();
                // A directory still being scanned hands its total over when it ends.
                if (!child->IsGroupNode() || !static_cast<const TGroupNode*>(child)->IsScanning())
                    onDisk += child->StoredSizeOnDisk();
            }
    }
    SetSize(size);
    FileCount.store(count, std::memory_order_relaxed);
    // Without its files as nodes the node's own share is known only inside its stored total,
    // which every change below has reached already.
    if (loaded) {
        const std::int64_t delta = onDisk - StoredSizeOnDisk();
        SetSizeOnDisk(onDisk);
        PassSizeOnDiskUp(delta);
    }
}

void TGroupNode::UpdateTotalsUpward() {
    for (TGroupNode* node = this; node; node = node->Parent())
        node->UpdateTotals();
}

int TGroupNode::AddChild(TFileSystemNode* Node) {
    std::unique_ptr<TFileSystemNode> owned(Node);
    Node->ParentNode = this;
    TChildrenLock guard(*this);
    const int index = Children.Add(Node);
    owned.release();
    return index;
}

TDirNode* TGroupNode::AddDirectory(std::string_view Name, std::uint16_t Attributes) {
    auto dir = std::make_unique<TDirNode>();
    dir->SetName(Name);
    dir->SetAttributes(Attributes);
    TDirNode* result = dir.get();
    AddChild(dir.release());
    return result;
}

void TGroupNode::RemoveChild(TFileSystemNode* Node) {
    std::unique_ptr<TFileSystemNode> removed;
    {
        TChildrenLock guard(*this);
        const int index = Children.IndexOf(Node);
        if (index < 0)
            return;
        if (Node->IsFileGroup() && NodeKind() != nkFileGroup) {
            auto* dir = static_cast<TDirNode*>(this);
            if (dir->FileGroup() == Node)
                dir->Group.store(nullptr, std::memory_order_relaxed);
        }
        removed.reset(Children.Extract(index));
    }
    // The subtree is freed outside the lock, so live readers are not held up by it.
}

int TGroupNode::ChildCount() const {
    TChildrenLock guard(*this);
    return guard.Children().Count();
}

TMemNodeList& TGroupNode::LockChildren() const {
    Lock.lock();
    return const_cast<TMemNodeList&>(Children);
}

TMemNodeList* TGroupNode::TryLockChildren() const {
    if (!Lock.try_lock())
        return nullptr;
    return const_cast<TMemNodeList*>(&Children);
}

TFileSystemNode* TGroupNode::FindNodeByPath(std::string_view Path) const {
    // Iterative, holding the locks from this node down (parent before child), so that any
    // depth works and no list changes under the search.
    std::vector<const TGroupNode*> held;
    struct TRelease {
        std::vector<const TGroupNode*>& Held;
        ~TRelease() {
            for (const TGroupNode* n : Held)
                n->UnlockChildren();
        }
    } release{held};

    // The path a child's name is joined to: "Local Drives" has none (its children are whole
    // paths), a "Grouped Files" node lends its directory's.
    std::string base;
    if (NodeKind() == nkFileGroup)
        base = Parent() ? Parent()->GetFullPath() : std::string();
    else if (NodeKind() != nkFixedDrives)
        base = GetFullPath();

    const TGroupNode* node = this;
    for (;;) {
        node->LockChildren();
        held.push_back(node);
        const TGroupNode* next = nullptr;
        const TGroupNode* group = nullptr;
        std::string nextBase;
        for (TFileSystemNode* child : node->Children.Items()) {
            if (child->IsFileGroup())
                group = static_cast<const TGroupNode*>(child);
            std::string full = base.empty() && node->NodeKind() == nkFixedDrives
                                   ? std::string(child->Name())
                                   : JoinPath(base, child->Name());
            if (!IsPathPrefix(full, Path))
                continue;
            if (full.size() == Path.size())
                return child;
            if (!child->IsGroupNode())
                return nullptr;
            next = static_cast<const TGroupNode*>(child);
            // A "Grouped Files" node's children are joined to its directory's path.
            nextBase = child->IsFileGroup() ? base : std::move(full);
            break;
        }
        if (!next && group) {
            // A file of the directory's "Grouped Files" node has the directory's path plus
            // its own name: the search goes on among the group's files.
            next = group;
            nextBase = base;
        }
        if (!next)
            return nullptr;
        node = next;
        base = std::move(nextBase);
    }
}

bool TGroupNode::BeginListFiles(TFileListRequest& Request) {
    // The filters need the root: fail before anything is marked.
    const std::int64_t threshold = GetRoot().GroupFileSize();
    // A "Grouped Files" node lists the files of its directory.
    const TGroupNode* dir = IsFileGroup() ? Parent() : this;
    Request.Dir = dir ? dir->GetFullPath() : std::string();
    // A root's path may be a symbolic link the user chose; every other directory was
    // reached without following one, and must be listed the same way.
    Request.FollowLast = !dir || !dir->Parent() || dir->Parent()->GetNodeType() == ntFixedDrives;
    TChildrenLock guard(*this);
    if (IsFileListFixed())
        return false;
    SetFlag(nfListing, true);
    // Decided under the lock, against the scan thread's grouping (see SettleSingleSmallFile).
    Request.Small = IsFileGroup();
    Request.Threshold = !IsFileGroup() && IsUngrouped() ? 0 : threshold;
    Request.HardLinks.reset();
    Request.LinkDir = dir;
    if (dir)
        if (std::shared_ptr<THardLinkSet> links = HardLinkSetOf(*dir); links && links->CountsOnce())
            Request.HardLinks = std::move(links);
    return true;
}

std::int32_t TGroupNode::EndListFiles(TFileList& List) {
    if (!IsListingFiles())
        return 0; // cancelled meanwhile
    if (List.Error != 0) {
        // Not loaded: the totals keep counting the unlisted files, and a later call tries again.
        CancelListFiles();
        return 0;
    }
    return AppendFiles(List, true);
}

std::int32_t TGroupNode::AppendFiles(TFileList& List, bool Loaded) {
    ResetFilesSize();
    TChildrenLock guard(*this);
    for (auto& file : List.Files) {
        file->ParentNode = this;
        guard.Children().Add(file.get());
        file.release();
    }
    if (Loaded) {
        SetFlag(nfFilesLoaded, true);
        SetFlag(nfListing, false);
    }
    const auto added = std::int32_t(List.Files.size());
    List.Files.clear();
    return added;
}

std::int32_t TGroupNode::LoadFiles() {
    TFileListRequest request;
    if (!BeginListFiles(request))
        return -1;
    TFileList list = ListFiles(request);
    return EndListFiles(list);
}

// --- TDirNode ----------------------------------------------------------------------------

TDirNode::~TDirNode() {
    Group.store(nullptr, std::memory_order_relaxed);
}

void TDirNode::Clear() {
    Group.store(nullptr, std::memory_order_relaxed);
    TGroupNode::Clear();
    // Expanded belongs to the view and survives a re-scan.
    ResetFlags(nfExpanded, nfEmpty);
}

void TDirNode::ClearForRescan() {
    {
        std::lock_guard guard(SizeOnDiskLock());
        PassSizeOnDiskUp(-StoredSizeOnDisk());
        SetSizeOnDisk(0);
    }
    if (const std::shared_ptr<THardLinkSet> links = HardLinkSetOf(*this))
        links->Forget(*this);
    Group.store(nullptr, std::memory_order_relaxed);
    {
        TChildrenLock guard(*this);
        guard.Children().Clear();
    }
    SetSize(0);
    SetScanError(0);
    SetFileCount(0);
    ResetFilesSize();
    ResetFlags(nfExpanded, nfEmpty);
}

bool TDirNode::AcceptsFile(std::int64_t FileSize) const {
    return IsUngrouped() || FileSize >= GetRoot().GroupFileSize();
}

void TDirNode::SetScanning(bool Value) {
    if (Value) {
        TGroupNode::SetScanning(true);
        return;
    }
    {
        // The end of the scan and the hand-over of the total are one step for every other
        // hand-over and for UpdateTotals: none counts the directory twice or not at all.
        std::lock_guard guard(SizeOnDiskLock());
        if (TakeFlag(nfScanning))
            PassSizeOnDiskUp(StoredSizeOnDisk());
    }
    std::unique_ptr<TFileSystemNode> dissolved;
    {
        TChildrenLock guard(*this);
        TFileGroupNode* group = FileGroup();
        // A group of one file is no group. Once the user has opened the group or the
        // directory, its rows show the grouped split: leave it as it is then.
        if (!group || group->StoredFileCount() != 1 || group->IsFileListFixed() ||
            IsFileListFixed())
            return;
        SetFlag(nfUngrouped, true);
        Group.store(nullptr, std::memory_order_relaxed);
        const int index = guard.Children().IndexOf(group);
        if (index >= 0)
            dissolved.reset(guard.Children().Extract(index));
    }
}

void TDirNode::SettleSingleSmallFile(std::int64_t FileSize, std::int64_t SizeOnDisk) {
    {
        TChildrenLock guard(*this);
        // A listing under way was asked for the grouped split: the file needs its group.
        if (!IsFileListFixed()) {
            SetFlag(nfUngrouped, true);
            return;
        }
    }
    TFileGroupNode* group = GetFileGroup();
    group->AddFileCount(1);
    group->AddSize(FileSize);
    group->AddSizeOnDisk(SizeOnDisk);
}

TFileGroupNode* TDirNode::GetFileGroup() {
    if (TFileGroupNode* group = FileGroup())
        return group;
    auto group = std::make_unique<TFileGroupNode>();
    TFileGroupNode* result = group.get();
    AddChild(group.release());
    Group.store(result, std::memory_order_relaxed);
    return result;
}

// --- TRootDirNode ------------------------------------------------------------------------

void TRootDirNode::SetPath(std::string_view Path) {
    if (Path != Name())
        SetName(Path);
    const TVolumeInfo info = GetVolumeInfo(std::string(Name()));
    if (!info.VolumeName.empty()) {
        std::lock_guard guard(VolumeLock);
        VolumeLabel = info.VolumeName;
    }
    UpdateFreeSpace();
}

void TRootDirNode::Clear() {
    TDirNode::Clear();
    LinkSet->Clear();
    {
        std::lock_guard guard(VolumeLock);
        VolumeLabel.clear();
    }
    CachedNodeType.store(0, std::memory_order_relaxed);
}

TNodeType TRootDirNode::GetNodeType() const {
    std::uint8_t type = CachedNodeType.load(std::memory_order_relaxed);
    if (type == 0) {
        type = IsDriveMountPoint(std::string(Name())) ? ntDrive : ntDirectory;
        CachedNodeType.store(type, std::memory_order_relaxed);
    }
    return TNodeType(type);
}

std::string TRootDirNode::GetDisplayName() const {
    std::string label = VolumeName();
    if (label.empty())
        return std::string(Name());
    return label + " (" + std::string(Name()) + ")";
}

void TRootDirNode::UpdateTotals() {
    TGroupNode::UpdateTotals();
    UpdateFreeSpace();
}

void TRootDirNode::UpdateFreeSpace() {
    if (Name().empty())
        return;
    std::int64_t free = 0;
    if (GetDiskFreeSpace(std::string(Name()), free))
        Free.store(free, std::memory_order_relaxed);
}

std::string TRootDirNode::VolumeName() const {
    std::lock_guard guard(VolumeLock);
    return VolumeLabel;
}

// --- TFixedDrivesNode --------------------------------------------------------------------

TFixedDrivesNode::TFixedDrivesNode() : TRootNode(nkFixedDrives) {
    LoadFiles();
}

TFixedDrivesNode::TFixedDrivesNode(const std::vector<std::string>& DriveRoots)
    : TRootNode(nkFixedDrives) {
    AddDrives(DriveRoots);
}

std::string TFixedDrivesNode::GetDisplayName() const {
    return Tr("Local Drives");
}

std::int32_t TFixedDrivesNode::LoadFiles() {
    if (IsFilesLoaded())
        return -1;
    std::vector<std::string> roots;
    GetDriveList({dtFixed}, roots);
    return AddDrives(roots);
}

std::int32_t TFixedDrivesNode::AddDrives(const std::vector<std::string>& DriveRoots) {
    for (const std::string& root : DriveRoots) {
        auto drive = std::make_unique<TRootDirNode>();
        drive->SetName(root); // no SetPath: the volume is queried when the drive is scanned
        AddChild(drive.release());
    }
    SetFlag(nfFilesLoaded, true);
    return std::int32_t(DriveRoots.size());
}

// --- TFileGroupNode ----------------------------------------------------------------------

TFileGroupNode::TFileGroupNode() : TGroupNode(nkFileGroup) {
    NodeName.AssignShared(Tr("Grouped Files"));
}

void TFileGroupNode::AddSize(std::int64_t Value) {
    if (!IsFilesLoaded())
        TGroupNode::AddSize(Value);
}

void TFileGroupNode::AddSizeOnDisk(std::int64_t Value) noexcept {
    if (!IsFilesLoaded())
        TGroupNode::AddSizeOnDisk(Value);
}

bool TFileGroupNode::IsScanning() const {
    if (IsFilesLoaded() || !Parent())
        return false;
    return Parent()->IsScanning();
}

bool TFileGroupNode::AcceptsFile(std::int64_t FileSize) const {
    return FileSize < GetRoot().GroupFileSize();
}

void TFileGroupNode::AddFileCount(std::int32_t Value) {
    if (!IsFilesLoaded())
        TGroupNode::AddFileCount(Value);
}

void TFileGroupNode::AddFilesSize(std::int64_t Value) {
    if (!IsFilesLoaded())
        TGroupNode::AddFilesSize(Value);
}

std::int32_t TFileGroupNode::EndListFiles(TFileList& List) {
    const std::int32_t added = TGroupNode::EndListFiles(List);
    if (IsFilesLoaded())
        UpdateTotals();
    return added;
}

bool IsInside(const TFileSystemNode& Node, const TFileSystemNode& Outer) noexcept {
    for (const TGroupNode* Up = Node.Parent(); Up; Up = Up->Parent()) {
        if (Up == &Outer) {
            return true;
        }
    }
    return false;
}

} // namespace qv
