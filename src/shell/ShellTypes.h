#pragma once
// What the window needs from the desktop to decorate paths without blocking: the listed
// drives with the names a file manager gives them (TShellDriveList), the well-known folders
// and drive roots with their icons, resolved once on a worker (TShellFolderList,
// TShellSpecialFolderThread), and file icons looked up on a worker, newest request first
// (TShellFileIconThread, with the window's pending requests in TSHGetFileInfoPropertiesList).
// Icon indexes are those of the window's TFileIconTable (view/FileIcons.h).
//
// Threading:
// - GUI thread: TShellFolderList, TShellDriveList, TFileIconTable, RequestFileIcon,
//   TIconRequestHousekeeping, and every result of both workers (OnChanged, OnFileIcon).
// - TShellSpecialFolderThread: fills a list of its own; it reaches its target list only
//   inside one call that the dispatcher runs on the GUI thread. Whether the target still
//   exists is a link both share, written and read on the GUI thread alone, so a target
//   destroyed first simply drops the results.
// - TShellFileIconThread: pops its queue under the queue's lock and finds MIME types from
//   names alone (QMimeDatabase is thread-safe). Each answer is a queued call on the GUI
//   thread, where the table turns it into an index and makes the QIcon; the worker never
//   touches a QIcon, the table or the pending list.
// - TSHGetFileInfoPropertiesList: every operation holds the list's own lock throughout.

#include "platform/Mounts.h"
#include "support/QvThread.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

class TFileIconTable;

// --- desktop names and folders -----------------------------------------------------------

// The special folders the window resolves at start: desktop, documents, music, videos,
// pictures and the home folder (the ids of TShellFolder in support/QvUtils.h).
inline constexpr int StartupSpecialFolderIds[] = {0, 5, 13, 14, 54, 40};

// The path of the special folder Id with a trailing "/", when that folder exists: the XDG
// user directories desktop (0), documents (5), music (13), videos (14), pictures (54), and
// the home folder (40). Empty for any other id, for a folder that does not exist, and for a
// user directory that user-dirs.dirs points at the home folder (its way of turning one off).
// Creates nothing. Any thread.
[[nodiscard]] std::string GetSpecialFolderPath(int Id);

// A drive as a file manager names it: "Label (MountPoint)", the mount point alone when the
// file system has no label, and the root file system without a label as
// "Root File System (/)" (translated). UTF-8, the mount point's bytes as they are.
[[nodiscard]] std::string DriveDisplayName(const std::string& Label, const std::string& MountPoint);

// The name the user knows Path by (a trailing "/" is ignored): a listed drive's mount point
// as DriveDisplayName shows it (a remote drive is labelled with its source, such as
// "server:/export", and never queried), the home folder as "Home" (translated), any other
// path by its last component. Empty for an empty path. Reads the mount table; GUI thread or
// any other.
[[nodiscard]] std::string GetDisplayNameOfPath(std::string_view Path);

// --- well-known folders ------------------------------------------------------------------

// An owning list of well-known folders, in the order they were added.
class TSimpleShellFolderList {
public:
    // One well-known folder. It lives in the list's scope because qv::TShellFolder already
    // names the folder ids of support/QvUtils.h.
    struct TShellFolder {
        // The special folder id (StartupSpecialFolderIds); -1 for an entry given by path.
        int SpecialFolderId = -1;
        // With a trailing "/"; empty while the folder of an id is not resolved.
        std::string Path{};
        // The theme icon chosen for the folder (in place of an icon handle); empty when none.
        QString IconName{};
        // The folder's entry in the window's TFileIconTable; -1 when none.
        int IconIndex = -1;
    };

    void Add(TShellFolder Folder) { Folders.push_back(std::move(Folder)); }
    void Clear() noexcept { Folders.clear(); }
    [[nodiscard]] int Count() const noexcept { return int(Folders.size()); }
    // The entry at Index, 0 to Count() - 1.
    [[nodiscard]] const TShellFolder& Items(int Index) const { return Folders.at(Index); }
    [[nodiscard]] TShellFolder& Items(int Index) { return Folders.at(Index); }
    // Becomes a copy of Source's entries, in order.
    void Assign(const TSimpleShellFolderList& Source) { Folders = Source.Folders; }

private:
    std::vector<TShellFolder> Folders;
};

// A generic icon of the list: its theme name and its entry in the TFileIconTable.
struct TShellIcon {
    QString Name;
    int Index = -1;
};

// The folders the special-folder thread resolved, with their icons. GUI thread only.
class TShellFolderList : public TSimpleShellFolderList {
public:
    // Empty, with the generic folder icons of Icons, which must outlive the list.
    explicit TShellFolderList(TFileIconTable& Icons);
    TShellFolderList(const TShellFolderList&) = delete;
    TShellFolderList& operator=(const TShellFolderList&) = delete;
    // Fires OnDestroying, so that a special-folder thread still running drops its results.
    ~TShellFolderList();

    // The IconIndex of the first entry whose Path equals Path with a trailing "/" added
    // (bytes compared exactly); -1 when none does.
    [[nodiscard]] int GetIconIndex(std::string_view Path) const;

    [[nodiscard]] const TShellIcon& ClosedFolderIcon() const noexcept { return ClosedFolder; }
    [[nodiscard]] const TShellIcon& OpenFolderIcon() const noexcept { return OpenFolder; }

    // Starts a self-freeing TShellSpecialFolderThread that resolves Paths (drive roots, in
    // order) and then SpecialFolderIds, and later replaces this list's entries with them and
    // fires OnChanged, on the GUI thread through Dispatcher. With a Joiner the thread's
    // handle goes there (the window joins it at the end, after closing the dispatcher).
    void StartSpecialFolderThread(TMainThreadDispatcher& Dispatcher,
                                  const std::vector<std::string>& Paths,
                                  const std::vector<int>& SpecialFolderIds,
                                  std::shared_ptr<TThreadJoiner> Joiner = nullptr);

    // Fired after a special-folder thread has delivered its entries into the list.
    std::function<void(TShellFolderList& Sender)> OnChanged;
    // Called by the destructor with the list. A special-folder thread chains its own hook
    // in front of the one it finds here.
    std::function<void(TShellFolderList& Sender)> OnDestroying;

private:
    friend class TShellSpecialFolderThread;
    // Takes the resolved entries of a special-folder thread, gives each found folder its
    // table index, and fires OnChanged.
    void Deliver(const TSimpleShellFolderList& Results);

    TFileIconTable& Icons;
    TShellIcon ClosedFolder;
    TShellIcon OpenFolder;
};

// Resolves well-known folders once, off the GUI thread: whether each drive root or folder
// is there (a remote drive is trusted to the mount table, never touched) and which theme
// icon suits it. Use it through TShellFolderList::StartSpecialFolderThread.
class TShellSpecialFolderThread final : public TThread {
public:
    // On the GUI thread; suspended. Target is not owned: its destruction, at any time, only
    // cuts the link, and the results then go nowhere.
    TShellSpecialFolderThread(TMainThreadDispatcher& Dispatcher, TShellFolderList& Target,
                              const std::vector<std::string>& Paths,
                              const std::vector<int>& SpecialFolderIds);

protected:
    void Execute() override;

private:
    struct TLink {
        TShellFolderList* Target = nullptr;
    };
    std::shared_ptr<TLink> Link = std::make_shared<TLink>();
    TSimpleShellFolderList Working;
};

// --- drives ------------------------------------------------------------------------------

// A listed drive. Linux has no drive letters: the mount point stands for the letter and is
// also the root path to scan.
struct TShellDrive {
    std::string Root; // the mount point, without a trailing "/" ("/" itself stays)
    TDriveType Type = dtUnknown;
    std::string DisplayName; // as GetDisplayNameOfPath gives it
};

// The drives the menus offer. GUI thread only.
class TShellDriveList {
public:
    // Lists anew the removable, fixed, remote, CD-ROM and RAM-disk drives, in the order of
    // the mount table (GetDriveList); returns their count. Labels are read for local drives
    // only, so a dead server cannot block.
    int Refresh();
    [[nodiscard]] int Count() const noexcept { return int(Drives.size()); }
    [[nodiscard]] const TShellDrive& Items(int Index) const { return Drives.at(Index); }

private:
    std::vector<TShellDrive> Drives;
};

// --- file icons --------------------------------------------------------------------------

using TIconRequestClock = std::chrono::steady_clock;

// One file-icon request.
struct TSHGetFileInfoProperties {
    // A random number from 0 to 0x7FFFFFFE; any thread.
    [[nodiscard]] static std::int32_t NewId();

    std::string Path{}; // of the file; only its name is looked at
    std::int32_t Id = NewId();
    std::int32_t IconIndex = -1; // -1 until an answer arrives
    TIconRequestClock::time_point Created = TIconRequestClock::now();
};

// The requests the window waits for. The list owns them; each operation holds the lock.
class TSHGetFileInfoPropertiesList {
public:
    TSHGetFileInfoPropertiesList() = default;
    TSHGetFileInfoPropertiesList(const TSHGetFileInfoPropertiesList&) = delete;
    TSHGetFileInfoPropertiesList& operator=(const TSHGetFileInfoPropertiesList&) = delete;

    void Add(TSHGetFileInfoProperties Request);
    void Clear();
    // Sets the IconIndex of the first request with Id; nothing when none has it.
    void SetResult(std::int32_t Id, std::int32_t IconIndex);
    // For the first request for Path (bytes compared exactly): -2 when there is none, -1
    // while it has no answer, else its IconIndex, and the request is removed.
    [[nodiscard]] std::int32_t TakeResult(std::string_view Path);
    // Removes every request created before Time; one created exactly at Time stays.
    void PurgeOlderThan(TIconRequestClock::time_point Time);
    [[nodiscard]] int Count() const;

private:
    using TIterator = std::list<TSHGetFileInfoProperties>::iterator;
    // The first of Range's requests in the order they were added; end() for none.
    template <class TRange> TIterator FirstOf(TRange Range);
    void Erase(TIterator Request);

    mutable std::mutex Lock;
    // In the order they were added. A paint asks for every visible file, so the look-ups go
    // through the two indexes: a list of a thousand requests is searched a thousand times.
    std::list<TSHGetFileInfoProperties> Requests;
    std::unordered_multimap<std::string_view, TIterator> ByPath; // views of Requests' paths
    std::unordered_multimap<std::int32_t, TIterator> ById;
    std::unordered_map<const TSHGetFileInfoProperties*, std::uint64_t> Order;
    std::uint64_t NextOrder = 0;
};

// Looks up file icons by name on a worker, newest request first.
class TShellFileIconThread final : public TThread {
public:
    // The index (into Icons) found for the request Id; on the GUI thread.
    using TFileIconEvent = std::function<void(int IconIndex, std::int32_t Id)>;

    // On the GUI thread; suspended until Resume, with an empty queue. Icons must outlive the
    // thread. The window answers OnFileIcon with TSHGetFileInfoPropertiesList::SetResult and
    // a repaint of the grid.
    TShellFileIconThread(TMainThreadDispatcher& Dispatcher, TFileIconTable& Icons,
                         TFileIconEvent OnFileIcon);
    // Stops the worker and waits for it (it never waits for the GUI thread). Requests still
    // queued are dropped and answers not yet delivered never arrive.
    ~TShellFileIconThread() override;

    // Queues Request above the others and wakes the worker. Any thread.
    void AddRequest(TSHGetFileInfoProperties Request);
    // Asks the worker to end and wakes it.
    void Stop();

protected:
    void Execute() override;

private:
    // On the GUI thread: the index of the file Name of MIME type MimeType (empty: no type
    // known), then OnFileIcon.
    void Answer(const QString& MimeType, const std::string& Name, std::int32_t Id);

    std::mutex QueueLock;
    std::condition_variable QueueChanged;
    std::vector<TSHGetFileInfoProperties> Queue; // the newest at the back
    TFileIconTable& Icons;
    TFileIconEvent OnFileIcon;
    // GUI thread: saves the GUI thread a MIME look-up per file; one per type is enough.
    QHash<QString, int> IndexByMimeType;
    // The answers are addressed to it, so that those still queued die with it. Lives on the
    // GUI thread.
    QObject Receiver;
};

// The icon index of the file Path for the grid (GUI thread): the answer when it has
// arrived (the request is then done with), else -1; a request is queued on Thread when
// none for Path is pending. The grid keeps the generic file icon while it gets -1.
[[nodiscard]] int RequestFileIcon(const std::string& Path, TSHGetFileInfoPropertiesList& Pending,
                                  TShellFileIconThread& Thread);

// The housekeeping timer: every Interval it drops the requests older than MaxAge, so that
// answers nobody collected are asked for again on the next paint. GUI thread.
class TIconRequestHousekeeping {
public:
    // Pending must outlive this object.
    explicit TIconRequestHousekeeping(TSHGetFileInfoPropertiesList& Pending,
                                      std::chrono::milliseconds Interval = std::chrono::seconds(10),
                                      std::chrono::milliseconds MaxAge = std::chrono::seconds(10));

private:
    QTimer Timer;
};

} // namespace qv
