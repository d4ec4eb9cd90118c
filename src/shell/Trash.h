#pragma once
// Moving files and directories to the trash as desktops share it (freedesktop.org Trash 1.0):
// the home trash ($XDG_DATA_HOME/Trash) for items on the home file system, the trash at the
// top directory of the file system ($topdir/.Trash/$uid or $topdir/.Trash-$uid) otherwise.
// Nothing is ever copied or deleted permanently here.
//
// Threading: any thread; calls for the same trash at once may race on its directorysizes
// file (a cache that file managers rebuild), never on the trashed items themselves.

#include <string>
#include <string_view>

namespace qv {

struct TTrashResult {
    bool Moved = false;
    // errno-like code of the failure, 0 when Moved.
    int Error = 0;
    // The system's message for Error, empty when Moved.
    std::string Message;
    // Path of the item inside the trash's files/ folder, when Moved.
    std::string TrashedAs;
};

// Moves the item at the absolute Path (a file, a directory, a symbolic link itself) into the
// trash of its file system. Returns Moved=false with the reason when no trash can take it:
// EROFS on a read-only file system, EACCES/EPERM when the trash folder cannot be made or a
// top-directory trash is not safe to use, EXDEV when the rename would cross file systems,
// ENOENT when Path does not exist, EINVAL for a relative path or "/". The caller may then
// offer permanent deletion.
[[nodiscard]] TTrashResult MoveToTrash(const std::string& Path);

// The bytes a Path= value of a .trashinfo file stands for: "%XX" becomes the byte 0xXX; a
// "%" not followed by two hex digits stays as it is.
[[nodiscard]] std::string TrashInfoPathDecode(std::string_view Encoded);

// Percent-encodes every byte except the unreserved ones (letters, digits, "-._~") and "/",
// as the Path= value of a .trashinfo file and the names in directorysizes are written.
[[nodiscard]] std::string TrashInfoPathEncode(std::string_view Path);

} // namespace qv
