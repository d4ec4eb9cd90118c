#pragma once
// TMRUDirList: the favourites, the most recently scanned directories, oldest first and
// newest last, at most MaxCount of them. The window keeps them in the settings as one
// comma text (CommaText / SetCommaText).
//
// Threading: GUI thread only.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TMRUDirList {
public:
    TMRUDirList() = default;

    // Makes Dir (a trailing "/" removed) the newest entry; an equal entry is removed first,
    // and the oldest entries go while there are more than MaxCount. One change event.
    void AddDir(std::string_view Dir);
    [[nodiscard]] int MaxCount() const noexcept { return Max; }
    // Sets the limit and trims at once.
    void SetMaxCount(int N);
    // Deletes the oldest entries while there are more than MaxCount.
    void LimitCount();
    // Deletes every entry that is not an existing directory.
    void RemoveInvalidItems();
    // Deletes every entry that is the mount point of a listed drive.
    void RemoveDriveRoots();
    // Deletes the entries equal to one of Roots (each without its trailing "/").
    void RemoveEntries(const std::vector<std::string>& Roots);

    [[nodiscard]] int Count() const noexcept { return int(Items.size()); }
    [[nodiscard]] const std::string& operator[](int Index) const {
        return Items.at(std::size_t(Index));
    }
    [[nodiscard]] const std::vector<std::string>& Entries() const noexcept { return Items; }
    void Clear();

    // The entries joined by ","; an entry holding a blank, a control character, a comma or
    // a double quote is put in double quotes with its quotes doubled.
    [[nodiscard]] std::string CommaText() const;
    // Replaces the list with the entries of Text: blanks and control characters separate
    // entries as commas do, a quoted entry runs to its closing quote. Keeps duplicates and
    // does not trim to MaxCount.
    void SetCommaText(std::string_view Text);

    // Called when an outermost change bracket closes with a change inside it.
    std::function<void()> OnChange;
    void BeginUpdate() noexcept { ++UpdateCount; }
    void EndUpdate();

private:
    void Changed();

    std::vector<std::string> Items;
    int Max = 9;
    int UpdateCount = 0;
    bool ChangedInUpdate = false;
};

} // namespace qv
