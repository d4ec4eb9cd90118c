#pragma once
// TSHChangeNotify: typed events for changes of the desktop's drives.
//
// The component knows nineteen kinds of change and, on Execute, starts watching for the
// ones whose handlers are assigned. Here only the drives have a source: the mount table,
// watched by a TMountWatch on its own thread. A drive that appears gives OnDriveAdd, one
// that goes gives OnDriveRemoved, each with its mount point as Path1; a drive with
// removable media (a removable disk, an optical disc) also gives OnMediaInserted and
// OnMediaRemoved. Every other event can be assigned and is never raised.
//
// A drive is what the drive list shows (GetDriveList): kernel pseudo file systems and
// second mounts of a listed file system are none. With HardDriveOnly only fixed drives
// (dtFixed: local disks and overlays) are watched; otherwise every listed drive, RAM disks
// (tmpfs) and network shares included.
//
// Threading: create, use and destroy it on the GUI thread. The watch's thread never calls
// a handler: it queues each change into this object, and the GUI thread's event loop
// raises the events. Handlers may call Execute and Deregister, but must not destroy the
// component (deleteLater does).
//
// Use by the main window: create it with the window as owner, assign OnDriveAdd and
// OnDriveRemoved, and call Execute once:
//
//     auto* notify = new TSHChangeNotify(this);
//     notify->OnDriveAdd = [this](TSHChangeNotify*, std::uint32_t, const std::string& Path) {
//         DriveAdded(Path);
//     };
//     notify->OnDriveRemoved = ...;
//     notify->Execute();

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace qv {

class TMountWatch;
struct TMountChanges;

// The case of the paths that the events report. Only the ASCII letters change.
enum TTextCase : std::uint8_t { tcAsIs, tcUppercase, tcLowercase };

// The event codes, as the Flags of the events carry them: one bit each.
enum TShellEvent : std::uint32_t {
    seRenameItem = 0x1,
    seCreate = 0x2,
    seDelete = 0x4,
    seMkDir = 0x8,
    seRmDir = 0x10,
    seMediaInserted = 0x20,
    seMediaRemoved = 0x40,
    seDriveRemoved = 0x80,
    seDriveAdd = 0x100,
    seNetShare = 0x200,
    seNetUnshare = 0x400,
    seAttributes = 0x800,
    seUpdateDir = 0x1000,
    seUpdateItem = 0x2000,
    seServerDisconnect = 0x4000,
    seUpdateImage = 0x8000,
    seDriveAddGUI = 0x10000,
    seRenameFolder = 0x20000,
    seAssocChanged = 0x8000000,
};

class TSHChangeNotify;

// Sender: the component; Flags: the event code; Path1 (and Path2): the paths concerned,
// as the file system spells them (bytes, not necessarily UTF-8), with TextCase applied.
using TOneParmEvent =
    std::function<void(TSHChangeNotify* Sender, std::uint32_t Flags, const std::string& Path1)>;
using TTwoParmEvent = std::function<void(TSHChangeNotify* Sender, std::uint32_t Flags,
                                         const std::string& Path1, const std::string& Path2)>;
// CanEndSession comes in true; a handler sets it to false to keep the session going.
using TEndSessionQueryEvent = std::function<void(TSHChangeNotify* Sender, bool& CanEndSession)>;

// Thrown by SetMessageNo and Execute.
class EChangeNotifyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSHChangeNotify final : public QObject {
public:
    static constexpr std::uint32_t MinMessageNo = 1024;

    // Not watching until Execute. Owner (may be null) destroys the component with itself.
    explicit TSHChangeNotify(QObject* Owner = nullptr);
    // Deregisters; no event comes after, not even one already queued.
    ~TSHChangeNotify() override;

    // No window messages carry the notifications here, so the number is not used; it is
    // kept, with its lower limit, so that code setting it behaves the same everywhere.
    [[nodiscard]] std::uint32_t MessageNo() const noexcept { return MessageNoValue; }
    // Throws EChangeNotifyError for a Value below MinMessageNo and keeps the old value.
    void SetMessageNo(std::uint32_t Value);

    TTextCase TextCase = tcAsIs;
    // Read by Execute: true watches the fixed drives only, false every listed drive.
    bool HardDriveOnly = true;

    // The events, in the order of their codes' table. Read by Execute: assigning or
    // clearing one afterwards changes nothing until the next Execute.
    TTwoParmEvent OnAssocChanged;     // never raised: no file-association changes here
    TOneParmEvent OnAttributes;       // never raised: no file watching here
    TOneParmEvent OnCreate;           // never raised: no file watching here
    TOneParmEvent OnDelete;           // never raised: no file watching here
    TOneParmEvent OnDriveAdd;         // a drive was mounted; Path1 is its mount point
    TOneParmEvent OnDriveAddGUI;      // never raised: the desktop opens no window for us
    TOneParmEvent OnDriveRemoved;     // a drive was unmounted; Path1 was its mount point
    TOneParmEvent OnMediaInserted;    // after OnDriveAdd, for removable media
    TOneParmEvent OnMediaRemoved;     // after OnDriveRemoved, for removable media
    TOneParmEvent OnMkDir;            // never raised: no file watching here
    TOneParmEvent OnNetShare;         // never raised: no sharing service is asked
    TOneParmEvent OnNetUnshare;       // never raised: no sharing service is asked
    TTwoParmEvent OnRenameFolder;     // never raised: no file watching here
    TTwoParmEvent OnRenameItem;       // never raised: no file watching here
    TOneParmEvent OnRmDir;            // never raised: no file watching here
    TOneParmEvent OnServerDisconnect; // never raised: a lost server shows as nothing
    TOneParmEvent OnUpdateDir;        // never raised: no file watching here
    TOneParmEvent OnUpdateImage;      // never raised: no shared icon list here
    TOneParmEvent OnUpdateItem;       // never raised: no file watching here
    // Asked when the session manager asks the application to commit its data before the
    // session ends (QGuiApplication::commitDataRequest): a handler that clears
    // CanEndSession makes the application cancel the shutdown; otherwise the component
    // deregisters. Unassigned, the session may end.
    TEndSessionQueryEvent OnEndSessionQuery;

    // Starts watching for the events whose handlers are assigned, replacing an earlier
    // Execute. Registers nothing, and raises nothing, when no handler is assigned or the
    // system has no mount table (/proc is not mounted). Throws EChangeNotifyError when the
    // watch cannot be started.
    void Execute();
    // Stops watching; events already queued are dropped. Harmless when not registered.
    void Deregister() noexcept;
    // True between a successful Execute that found an assigned handler and Deregister.
    [[nodiscard]] bool Registered() const noexcept { return Mask != 0; }

    // What a request to end the session runs: asks OnEndSessionQuery, deregisters when the
    // session may end, and returns whether it may.
    bool QueryEndSession();

private:
    void Deliver(std::uint64_t FromGeneration, const TMountChanges& Changes);
    void Notify(std::uint32_t Code, const std::string& Path1, const std::string& Path2);
    [[nodiscard]] std::string WithTextCase(std::string Path) const;

    std::uint32_t MessageNoValue = MinMessageNo;
    std::uint32_t Mask = 0; // the codes of the handlers assigned at Execute
    bool HardDrivesWatched = true;
    std::unique_ptr<TMountWatch> Watch;
    // Tells a change queued by the current watch from one queued before a Deregister.
    std::uint64_t Generation = 0;
    // The last notification that had a handler, as it came, for the duplicate test.
    std::uint32_t LastEvent = 0;
    std::string LastPath1;
    std::string LastPath2;
};

} // namespace qv
