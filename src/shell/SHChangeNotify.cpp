#include "shell/SHChangeNotify.h"

#include "platform/MountWatch.h"
#include "support/QvLogger.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QSessionManager>
#include <algorithm>
#include <array>
#include <system_error>

namespace qv {
namespace {

struct TEventEntry {
    std::uint32_t Code;
    TOneParmEvent TSHChangeNotify::*One;
    TTwoParmEvent TSHChangeNotify::*Two;
};

// One table for both the mask that Execute builds and the dispatch of each change.
constexpr std::array<TEventEntry, 19> EventTable{{
    {seAssocChanged, nullptr, &TSHChangeNotify::OnAssocChanged},
    {seAttributes, &TSHChangeNotify::OnAttributes, nullptr},
    {seCreate, &TSHChangeNotify::OnCreate, nullptr},
    {seDelete, &TSHChangeNotify::OnDelete, nullptr},
    {seDriveAdd, &TSHChangeNotify::OnDriveAdd, nullptr},
    {seDriveAddGUI, &TSHChangeNotify::OnDriveAddGUI, nullptr},
    {seDriveRemoved, &TSHChangeNotify::OnDriveRemoved, nullptr},
    {seMediaInserted, &TSHChangeNotify::OnMediaInserted, nullptr},
    {seMediaRemoved, &TSHChangeNotify::OnMediaRemoved, nullptr},
    {seMkDir, &TSHChangeNotify::OnMkDir, nullptr},
    {seNetShare, &TSHChangeNotify::OnNetShare, nullptr},
    {seNetUnshare, &TSHChangeNotify::OnNetUnshare, nullptr},
    {seRenameFolder, nullptr, &TSHChangeNotify::OnRenameFolder},
    {seRenameItem, nullptr, &TSHChangeNotify::OnRenameItem},
    {seRmDir, &TSHChangeNotify::OnRmDir, nullptr},
    {seServerDisconnect, &TSHChangeNotify::OnServerDisconnect, nullptr},
    {seUpdateDir, &TSHChangeNotify::OnUpdateDir, nullptr},
    {seUpdateImage, &TSHChangeNotify::OnUpdateImage, nullptr},
    {seUpdateItem, &TSHChangeNotify::OnUpdateItem, nullptr},
}};

// The only events the mount table can raise; without one of them no watch is needed.
constexpr std::uint32_t DriveEvents =
    seDriveAdd | seDriveRemoved | seMediaInserted | seMediaRemoved;

// The top bit was the source's interrupt flag, never part of an event code.
constexpr std::uint32_t EventCodeBits = 0x7FFFFFFF;

bool Assigned(const TSHChangeNotify& Notify, const TEventEntry& Entry) {
    return Entry.One != nullptr ? bool(Notify.*Entry.One) : bool(Notify.*Entry.Two);
}

bool HasRemovableMedia(TDriveType Type) {
    return Type == dtRemovable || Type == dtCDROM;
}

} // namespace

TSHChangeNotify::TSHChangeNotify(QObject* Owner) : QObject(Owner) {
#ifndef QT_NO_SESSIONMANAGER
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& Manager) {
            if (!QueryEndSession())
                Manager.cancel();
        });
#endif
}

TSHChangeNotify::~TSHChangeNotify() {
    // Joins the watch's thread before QObject drops the changes it queued.
    Deregister();
}

void TSHChangeNotify::SetMessageNo(std::uint32_t Value) {
    if (Value < MinMessageNo)
        throw EChangeNotifyError("MessageNo must be greater than or equal to " +
                                 std::to_string(MinMessageNo));
    MessageNoValue = Value;
}

void TSHChangeNotify::Execute() {
    Deregister();
    std::uint32_t mask = 0;
    for (const TEventEntry& entry : EventTable)
        if (Assigned(*this, entry))
            mask |= entry.Code;
    if (mask == 0)
        return;
    if ((mask & DriveEvents) != 0) {
        if (!TMountWatch::Supported()) {
            LogInfo("No mount table to watch: drive changes go unnoticed");
            return;
        }
        const std::uint64_t generation = Generation;
        try {
            // The watch's thread only queues: the events are raised on this object's thread.
            Watch = std::make_unique<TMountWatch>([this, generation](const TMountChanges& C) {
                QMetaObject::invokeMethod(
                    this, [this, generation, C] { Deliver(generation, C); }, Qt::QueuedConnection);
            });
        } catch (const std::system_error& e) {
            LogError(std::string("Cannot watch the mount table: ") + e.what());
            Deregister();
            throw EChangeNotifyError("Could not register SHChangeNotify");
        }
    }
    Mask = mask;
    HardDrivesWatched = HardDriveOnly;
}

void TSHChangeNotify::Deregister() noexcept {
    Watch.reset();
    Mask = 0;
    ++Generation;
}

bool TSHChangeNotify::QueryEndSession() {
    bool canEndSession = true;
    if (OnEndSessionQuery)
        OnEndSessionQuery(this, canEndSession);
    if (canEndSession)
        Deregister();
    return canEndSession;
}

void TSHChangeNotify::Deliver(std::uint64_t FromGeneration, const TMountChanges& Changes) {
    const auto watched = [this](const TDrive& Drive) {
        return !HardDrivesWatched || Drive.Type == dtFixed;
    };
    // A handler may deregister or execute again: what this watch found is stale then.
    const auto current = [&] { return FromGeneration == Generation; };
    for (const TDrive& drive : Changes.Removed) {
        if (!watched(drive))
            continue;
        if (current())
            Notify(seDriveRemoved, drive.Root, {});
        if (current() && HasRemovableMedia(drive.Type))
            Notify(seMediaRemoved, drive.Root, {});
    }
    for (const TDrive& drive : Changes.Added) {
        if (!watched(drive))
            continue;
        if (current())
            Notify(seDriveAdd, drive.Root, {});
        if (current() && HasRemovableMedia(drive.Type))
            Notify(seMediaInserted, drive.Root, {});
    }
}

void TSHChangeNotify::Notify(std::uint32_t Code, const std::string& Path1,
                             const std::string& Path2) {
    const std::uint32_t code = Code & EventCodeBits;
    const auto entry = std::find_if(EventTable.begin(), EventTable.end(),
                                    [&](const TEventEntry& e) { return e.Code == code; });
    if (entry == EventTable.end() || (Mask & code) == 0 || !Assigned(*this, *entry))
        return;
    // The same change twice in a row is one change. Paths compare with their case, as the
    // file system tells them apart.
    const bool duplicate = code == LastEvent && Path1 == LastPath1 && Path2 == LastPath2;
    LastEvent = code;
    LastPath1 = Path1;
    LastPath2 = Path2;
    if (duplicate)
        return;
    // Copied, so that a handler that assigns its own event does not destroy itself.
    if (entry->One != nullptr) {
        const TOneParmEvent handler = this->*entry->One;
        handler(this, code, WithTextCase(Path1));
    } else {
        const TTwoParmEvent handler = this->*entry->Two;
        handler(this, code, WithTextCase(Path1), WithTextCase(Path2));
    }
}

std::string TSHChangeNotify::WithTextCase(std::string Path) const {
    for (char& c : Path) {
        if (TextCase == tcUppercase && c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (TextCase == tcLowercase && c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return Path;
}

} // namespace qv
