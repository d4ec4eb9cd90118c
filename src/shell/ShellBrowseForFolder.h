#pragma once
// The desktop's services for folders and files: the dialog that chooses a folder, showing a
// folder or an item in the user's file manager, and opening a file with its program.
//
// Paths are local 8-bit byte strings, as the file system holds them; a name that is not
// valid UTF-8 reaches the file manager and xdg-open unchanged.
//
// Threading: everything here runs on the GUI thread, with a QApplication. The file manager
// and xdg-open answer later, through the event loop; nothing here waits for them.

#include <functional>
#include <stdexcept>
#include <string>

class QWidget;

namespace qv {

// The chosen folder has no path in the local file system (a location such as sftp://...
// offered by a desktop's own dialog).
class BrowseForFolderException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lets the user choose a folder in a modal dialog captioned Title that starts in
// InitialDir. True with Dir set to the chosen folder; false with Dir cleared when the
// dialog was cancelled. Throws BrowseForFolderException for a chosen location that is not
// a local folder.
bool BrowseForFolder(const std::string& Title, const std::string& InitialDir, std::string& Dir,
                     QWidget* Owner = nullptr);

// Receives the translated, UTF-8 message of a request that failed; the message names the
// path and the reason. It may run at once or later from the event loop, so it must not
// capture anything that could be gone by then. An empty handler shows the message in an
// error box. Each failure is logged as an error whichever handler is used.
using TShellFailure = std::function<void(const std::string& Message)>;

// Opens the folder Path in the user's file manager: through the freedesktop.org
// FileManager1 interface on the session bus, else by handing its file URL to the desktop
// (xdg-open). Returns 0 when the request was handed on, non-zero when it failed at once
// (OnFailure has then been called).
int ExploreFolder(const std::string& Path, TShellFailure OnFailure = {});

// As ExploreFolder, but the file manager opens the folder that holds Path and selects Path
// there; without the file manager's interface only that folder is opened.
int ShowItemInFolder(const std::string& Path, TShellFailure OnFailure = {});

// Opens the file Path with its associated program through xdg-open. Returns non-zero after
// calling OnFailure when xdg-open is not installed; otherwise 0, and OnFailure follows when
// xdg-open reports a failure within 10 seconds. Later exits are the opened program's own
// business and are not reported.
int ShellOpenFile(const std::string& Path, TShellFailure OnFailure = {});

} // namespace qv
