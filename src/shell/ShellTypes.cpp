#include "shell/ShellTypes.h"

#include "platform/Drives.h"
#include "support/QvLogger.h"
#include "support/QvProfiler.h"
#include "support/QvUtils.h"
#include "support/Translate.h"
#include "view/FileIcons.h"

#include <QFile>
#include <QMetaObject>
#include <QMimeDatabase>
#include <algorithm>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <utility>

namespace qv {

namespace {

// The profiler timer of the special-folder thread.
constexpr std::int32_t SpecialFolderTimer = 240;

bool IsDirectory(const std::string& Path) {
    struct stat st;
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* SpecialFolderIconName(int Id) {
    switch (Id) {
    case sfDesktop:
        return "user-desktop";
    case sfPersonal:
        return "folder-documents";
    case sfMusic:
        return "folder-music";
    case sfVideos:
        return "folder-videos";
    case sfPictures:
        return "folder-pictures";
    case sfProfile:
        return "user-home";
    default:
        return "folder";
    }
}

const char* DriveIconName(TDriveType Type) {
    switch (Type) {
    case dtRemovable:
        return "drive-removable-media";
    case dtRemote:
        return "folder-remote";
    case dtCDROM:
        return "media-optical";
    default:
        return "drive-harddisk";
    }
}

const TDrive* FindDrive(const std::vector<TDrive>& Drives, const std::string& Root) {
    const auto found =
        std::find_if(Drives.begin(), Drives.end(), [&](const TDrive& d) { return d.Root == Root; });
    return found == Drives.end() ? nullptr : &*found;
}

// The theme icon for the folder Path when it is there, else empty. A drive root is known
// from the mount table alone: a stat of a dead server's mount would never return.
QString FolderIconName(const std::string& Path, const std::vector<TDrive>& Drives) {
    if (const TDrive* drive = FindDrive(Drives, WithoutTrailingDelimiter(Path)))
        return QString::fromLatin1(DriveIconName(drive->Type));
    return IsDirectory(Path) ? QStringLiteral("folder") : QString();
}

std::string DisplayNameOfDrive(const TDrive& Drive) {
    // The share a remote drive shows is the name its user gave in fstab; asking the server
    // for a label could block.
    const std::string label =
        Drive.Type == dtRemote ? Drive.Mount.Source : GetVolumeInfo(Drive.Root).VolumeName;
    return DriveDisplayName(label, Drive.Root);
}

std::string FileNameOf(const std::string& Path) {
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

} // namespace

// --- desktop names and folders -----------------------------------------------------------

std::string GetSpecialFolderPath(int Id) {
    switch (Id) {
    case sfDesktop:
    case sfPersonal:
    case sfMusic:
    case sfVideos:
    case sfPictures:
    case sfProfile:
        break;
    default:
        return {};
    }
    const std::string path = GetShellFolderPath(Id);
    if (path.empty() || !IsDirectory(path))
        return {};
    if (Id != sfProfile && path == GetShellFolderPath(sfProfile))
        return {};
    return path;
}

std::string DriveDisplayName(const std::string& Label, const std::string& MountPoint) {
    if (!Label.empty())
        return Label + " (" + MountPoint + ")";
    if (MountPoint == "/")
        return Tr("Root File System") + " (/)";
    return MountPoint;
}

std::string GetDisplayNameOfPath(std::string_view Path) {
    if (Path.empty())
        return {};
    const std::string path = WithoutTrailingDelimiter(Path);
    const std::vector<TDrive> drives = ListDrives(ReadMountTable(), IsRemovableBlockDevice);
    if (const TDrive* drive = FindDrive(drives, path))
        return DisplayNameOfDrive(*drive);
    const std::string home = GetShellFolderPath(sfProfile);
    if (!home.empty() && path == WithoutTrailingDelimiter(home))
        return Tr("Home");
    return path == "/" ? path : FileNameOf(path);
}

// --- TShellFolderList --------------------------------------------------------------------

TShellFolderList::TShellFolderList(TFileIconTable& Icons)
    : Icons(Icons), ClosedFolder{QStringLiteral("folder"), Icons.ClosedFolderIcon()},
      OpenFolder{QStringLiteral("folder-open"), Icons.OpenFolderIcon()} {}

TShellFolderList::~TShellFolderList() {
    if (OnDestroying)
        OnDestroying(*this);
}

int TShellFolderList::GetIconIndex(std::string_view Path) const {
    const std::string path = AddPathDelimiter(Path);
    for (int i = 0; i < Count(); ++i)
        if (Items(i).Path == path)
            return Items(i).IconIndex;
    return -1;
}

void TShellFolderList::StartSpecialFolderThread(TMainThreadDispatcher& Dispatcher,
                                                const std::vector<std::string>& Paths,
                                                const std::vector<int>& SpecialFolderIds,
                                                std::shared_ptr<TThreadJoiner> Joiner) {
    auto thread =
        std::make_unique<TShellSpecialFolderThread>(Dispatcher, *this, Paths, SpecialFolderIds);
    TThread* started = thread.get();
    TThread::Adopt(std::move(thread), std::move(Joiner));
    started->Resume();
}

void TShellFolderList::Deliver(const TSimpleShellFolderList& Results) {
    Assign(Results);
    for (int i = 0; i < Count(); ++i) {
        TShellFolder& folder = Items(i);
        if (folder.IconName.isEmpty())
            continue;
        // The table knows the user's folders and the drives by path; a folder it does not
        // know still deserves a folder icon rather than none.
        folder.IconIndex = Icons.GetIconIndex(WithoutTrailingDelimiter(folder.Path));
        if (folder.IconIndex < 0)
            folder.IconIndex = ClosedFolder.Index;
    }
    if (OnChanged)
        OnChanged(*this);
}

// --- TShellSpecialFolderThread -----------------------------------------------------------

TShellSpecialFolderThread::TShellSpecialFolderThread(TMainThreadDispatcher& Dispatcher,
                                                     TShellFolderList& Target,
                                                     const std::vector<std::string>& Paths,
                                                     const std::vector<int>& SpecialFolderIds)
    : TThread(Dispatcher) {
    Link->Target = &Target;
    // The hook holds the link, not the thread, so it stays harmless once the thread has
    // freed itself; and it keeps the hook it found, which may belong to an earlier thread.
    Target.OnDestroying = [link = Link,
                           previous = std::move(Target.OnDestroying)](TShellFolderList& Sender) {
        link->Target = nullptr;
        if (previous)
            previous(Sender);
    };
    for (const std::string& path : Paths)
        Working.Add({.SpecialFolderId = -1, .Path = AddPathDelimiter(path)});
    for (int id : SpecialFolderIds)
        Working.Add({.SpecialFolderId = id});
}

void TShellSpecialFolderThread::Execute() {
    ::pthread_setname_np(::pthread_self(), "QvShellFolders");
    StartTimer(SpecialFolderTimer);
    const std::vector<TDrive> drives = ListDrives(ReadMountTable(), IsRemovableBlockDevice);
    for (int i = 0; i < Working.Count(); ++i) {
        if (Terminated())
            return;
        TSimpleShellFolderList::TShellFolder& folder = Working.Items(i);
        if (folder.SpecialFolderId >= 0) {
            folder.Path = GetSpecialFolderPath(folder.SpecialFolderId);
            if (!folder.Path.empty())
                folder.IconName =
                    QString::fromLatin1(SpecialFolderIconName(folder.SpecialFolderId));
        } else if (!folder.Path.empty()) {
            folder.IconName = FolderIconName(folder.Path, drives);
        }
    }
    LogTimer(SpecialFolderTimer, "TShellSpecialFolderThread");
    TThread::Deliver([this](TThread&) {
        if (Link->Target != nullptr)
            Link->Target->Deliver(Working);
        else
            LogDebug("Special folders resolved after their list was gone");
    });
}

// --- TShellDriveList ---------------------------------------------------------------------

int TShellDriveList::Refresh() {
    Drives.clear();
    std::vector<std::string> roots;
    GetDriveList(TDriveTypes{dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk}, roots);
    const std::vector<TDrive> drives = ListDrives(ReadMountTable(), IsRemovableBlockDevice);
    for (const std::string& root : roots) {
        // A mount between the two reads of the table is caught by the next refresh.
        const TDrive* drive = FindDrive(drives, root);
        if (drive == nullptr)
            continue;
        Drives.push_back({root, drive->Type, DisplayNameOfDrive(*drive)});
    }
    return Count();
}

// --- file icon requests ------------------------------------------------------------------

std::int32_t TSHGetFileInfoProperties::NewId() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::int32_t>(0, 0x7FFFFFFE)(generator);
}

template <class TRange>
TSHGetFileInfoPropertiesList::TIterator TSHGetFileInfoPropertiesList::FirstOf(TRange Range) {
    TIterator first = Requests.end();
    std::uint64_t firstOrder = 0;
    for (auto it = Range.first; it != Range.second; ++it) {
        const std::uint64_t order = Order.at(&*it->second);
        if (first == Requests.end() || order < firstOrder) {
            first = it->second;
            firstOrder = order;
        }
    }
    return first;
}

void TSHGetFileInfoPropertiesList::Erase(TIterator Request) {
    const auto drop = [&](auto& Index, const auto& Key) {
        auto [from, to] = Index.equal_range(Key);
        for (; from != to; ++from)
            if (from->second == Request) {
                Index.erase(from);
                return;
            }
    };
    drop(ByPath, std::string_view(Request->Path));
    drop(ById, Request->Id);
    Order.erase(&*Request);
    Requests.erase(Request);
}

void TSHGetFileInfoPropertiesList::Add(TSHGetFileInfoProperties Request) {
    std::lock_guard guard(Lock);
    Requests.push_back(std::move(Request));
    const TIterator added = std::prev(Requests.end());
    ByPath.emplace(std::string_view(added->Path), added);
    ById.emplace(added->Id, added);
    Order.emplace(&*added, NextOrder++);
}

void TSHGetFileInfoPropertiesList::Clear() {
    std::lock_guard guard(Lock);
    ByPath.clear();
    ById.clear();
    Order.clear();
    Requests.clear();
}

void TSHGetFileInfoPropertiesList::SetResult(std::int32_t Id, std::int32_t IconIndex) {
    std::lock_guard guard(Lock);
    const TIterator found = FirstOf(ById.equal_range(Id));
    if (found != Requests.end())
        found->IconIndex = IconIndex;
}

std::int32_t TSHGetFileInfoPropertiesList::TakeResult(std::string_view Path) {
    std::lock_guard guard(Lock);
    const TIterator found = FirstOf(ByPath.equal_range(Path));
    if (found == Requests.end())
        return -2;
    if (found->IconIndex < 0)
        return -1;
    const std::int32_t index = found->IconIndex;
    Erase(found);
    return index;
}

void TSHGetFileInfoPropertiesList::PurgeOlderThan(TIconRequestClock::time_point Time) {
    std::lock_guard guard(Lock);
    for (TIterator it = Requests.begin(); it != Requests.end();) {
        const TIterator next = std::next(it);
        if (it->Created < Time)
            Erase(it);
        it = next;
    }
}

int TSHGetFileInfoPropertiesList::Count() const {
    std::lock_guard guard(Lock);
    return int(Requests.size());
}

// --- TShellFileIconThread ----------------------------------------------------------------

TShellFileIconThread::TShellFileIconThread(TMainThreadDispatcher& Dispatcher, TFileIconTable& Icons,
                                           TFileIconEvent OnFileIcon)
    : TThread(Dispatcher), Icons(Icons), OnFileIcon(std::move(OnFileIcon)) {}

TShellFileIconThread::~TShellFileIconThread() {
    // Before the members go: the worker posts to Receiver and reads the queue.
    Stop();
    WaitFor();
}

void TShellFileIconThread::AddRequest(TSHGetFileInfoProperties Request) {
    bool wake = false;
    {
        std::lock_guard guard(QueueLock);
        // The worker sleeps only on an empty queue; a paint adds hundreds at a time.
        wake = Queue.empty();
        Queue.push_back(std::move(Request));
    }
    if (wake)
        QueueChanged.notify_one();
}

void TShellFileIconThread::Stop() {
    Terminate();
    // Taking the lock orders the flag before a worker's check of it, so the wake-up cannot
    // fall between that check and its sleep.
    { std::lock_guard guard(QueueLock); }
    QueueChanged.notify_all();
}

void TShellFileIconThread::Execute() {
    ::pthread_setname_np(::pthread_self(), "QvFileIcons");
    const QMimeDatabase database;
    for (;;) {
        TSHGetFileInfoProperties request;
        {
            std::unique_lock guard(QueueLock);
            QueueChanged.wait(guard, [&] { return Terminated() || !Queue.empty(); });
            if (Terminated())
                return;
            request = std::move(Queue.back());
            Queue.pop_back();
        }
        std::string name = FileNameOf(request.Path);
        const QMimeType mime = database.mimeTypeForFile(
            QFile::decodeName(QByteArray::fromStdString(name)), QMimeDatabase::MatchExtension);
        // A name that says nothing gets the plain file icon, as the table gives it.
        const QString mimeType = mime.isValid() && !mime.isDefault() ? mime.name() : QString();
        QMetaObject::invokeMethod(
            &Receiver,
            [this, mimeType, name = std::move(name), id = request.Id] {
                Answer(mimeType, name, id);
            },
            Qt::QueuedConnection);
    }
}

void TShellFileIconThread::Answer(const QString& MimeType, const std::string& Name,
                                  std::int32_t Id) {
    int index = Icons.DefaultFileIcon();
    if (!MimeType.isEmpty()) {
        const auto found = IndexByMimeType.constFind(MimeType);
        if (found != IndexByMimeType.cend()) {
            index = found.value();
        } else {
            index = Icons.GetFileIconIndex(Name);
            IndexByMimeType.insert(MimeType, index);
        }
    }
    if (OnFileIcon)
        OnFileIcon(index, Id);
}

int RequestFileIcon(const std::string& Path, TSHGetFileInfoPropertiesList& Pending,
                    TShellFileIconThread& Thread) {
    const std::int32_t result = Pending.TakeResult(Path);
    if (result >= -1)
        return result;
    TSHGetFileInfoProperties request{.Path = Path};
    Pending.Add(request);
    Thread.AddRequest(std::move(request));
    return -1;
}

TIconRequestHousekeeping::TIconRequestHousekeeping(TSHGetFileInfoPropertiesList& Pending,
                                                   std::chrono::milliseconds Interval,
                                                   std::chrono::milliseconds MaxAge) {
    QObject::connect(&Timer, &QTimer::timeout, &Timer, [&Pending, MaxAge] {
        Pending.PurgeOlderThan(TIconRequestClock::now() - MaxAge);
    });
    Timer.start(Interval);
}

} // namespace qv
