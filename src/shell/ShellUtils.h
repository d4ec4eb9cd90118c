#pragma once
// Deleting what the user chose, to the trash or permanently, with the program's own
// confirmation and progress. The work runs on a worker thread; the window keeps painting and
// takes no input meanwhile, and a progress dialog with Cancel appears when it takes longer
// than half a second.
//
// Threading: call on the GUI thread.

#include "shell/DeleteTree.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace qv {

// One item as the size tree knows it.
struct TDeleteItem {
    std::string Path;
    bool IsDirectory = false;
    std::int64_t Size = 0;
};

// What became of a delete.
struct TDeleteReport {
    // The user said yes to the first question.
    bool Confirmed = false;
    // Cancel was pressed: the items after the current entry were left alone.
    bool Cancelled = false;
    // Per item, in the order given: whether it is no longer at its path.
    std::vector<bool> Gone;
    // Entries that could not be deleted or moved, with the system's message; an item that
    // no trash could take and the user chose not to delete permanently is not among them.
    std::vector<TDeleteFailure> Failures;
    // Items no trash could take (read-only file system, no permission for a trash folder,
    // another file system), with the reason, whether or not they were then deleted.
    std::vector<TDeleteFailure> NotTrashable;
};

// Asks the user, then deletes Items: AllowUndo moves them to the trash (and offers to
// delete permanently what no trash can take), otherwise deletes them permanently.
// BeforeDelete runs once after the user said yes and before anything is touched. Returns
// true only when every item is gone, nothing failed, and the user neither declined nor
// cancelled.
bool ShellDeleteFiles(const std::vector<TDeleteItem>& Items, bool AllowUndo, QWidget* OwnerWindow,
                      TDeleteReport& Report, const std::function<void()>& BeforeDelete = {});

// Lines, one per line, the first twelve of them and then how many more there are: the
// lists of the questions and error boxes about deleting.
[[nodiscard]] std::string ListOfLines(const std::vector<std::string>& Lines);

// What counts as a system file here: a device, a FIFO or a socket (not following a link).
[[nodiscard]] bool IsSystemFile(const std::string& Path);

// How long the work may take before the progress dialog appears (tests shorten it).
extern int DeleteProgressDelayMs;

// The name of the progress dialog, for tests and assistive technology.
inline constexpr const char* DeleteProgressName = "DeleteProgress";

} // namespace qv
