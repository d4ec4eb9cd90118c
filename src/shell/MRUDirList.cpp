#include "shell/MRUDirList.h"

#include "platform/Drives.h"
#include "support/QvUtils.h"

#include <algorithm>

namespace qv {

namespace {

bool IsBlankOrControl(char c) {
    return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

// Opens a change bracket for the scope of a function.
class TUpdateBracket {
public:
    explicit TUpdateBracket(TMRUDirList& List) : List(List) { List.BeginUpdate(); }
    ~TUpdateBracket() { List.EndUpdate(); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    TMRUDirList& List;
};

} // namespace

void TMRUDirList::Changed() {
    if (UpdateCount > 0) {
        ChangedInUpdate = true;
        return;
    }
    if (OnChange)
        OnChange();
}

void TMRUDirList::EndUpdate() {
    if (UpdateCount > 0 && --UpdateCount == 0 && ChangedInUpdate) {
        ChangedInUpdate = false;
        Changed();
    }
}

void TMRUDirList::AddDir(std::string_view Dir) {
    const std::string entry = WithoutTrailingDelimiter(Dir);
    TUpdateBracket bracket(*this);
    const auto same = std::find(Items.begin(), Items.end(), entry);
    if (same != Items.end())
        Items.erase(same);
    Items.push_back(entry);
    Changed();
    LimitCount();
}

void TMRUDirList::SetMaxCount(int N) {
    Max = N;
    LimitCount();
}

void TMRUDirList::LimitCount() {
    TUpdateBracket bracket(*this);
    while (Count() > std::max(Max, 0)) {
        Items.erase(Items.begin());
        Changed();
    }
}

void TMRUDirList::RemoveInvalidItems() {
    TUpdateBracket bracket(*this);
    for (int i = Count() - 1; i >= 0; --i) {
        if (!DirectoryExists(Items[std::size_t(i)])) {
            Items.erase(Items.begin() + i);
            Changed();
        }
    }
}

void TMRUDirList::RemoveDriveRoots() {
    std::vector<std::string> roots;
    GetDriveList({dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk}, roots);
    RemoveEntries(roots);
}

void TMRUDirList::RemoveEntries(const std::vector<std::string>& Roots) {
    TUpdateBracket bracket(*this);
    for (const std::string& root : Roots) {
        const std::string entry = WithoutTrailingDelimiter(root);
        if (std::erase(Items, entry) > 0)
            Changed();
    }
}

void TMRUDirList::Clear() {
    if (Items.empty())
        return;
    Items.clear();
    Changed();
}

std::string TMRUDirList::CommaText() const {
    // A single empty entry must not read back as an empty list.
    if (Items.size() == 1 && Items[0].empty())
        return "\"\"";
    std::string text;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        if (i > 0)
            text += ',';
        const std::string& item = Items[i];
        const bool quote = std::any_of(item.begin(), item.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"';
        });
        if (!quote) {
            text += item;
            continue;
        }
        text += '"';
        for (char c : item) {
            if (c == '"')
                text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

void TMRUDirList::SetCommaText(std::string_view Text) {
    // The text ends at a NUL, as it always has for the readers of this format.
    Text = Text.substr(0, Text.find('\0'));
    TUpdateBracket bracket(*this);
    Items.clear();
    Changed();
    std::size_t p = 0;
    const std::size_t n = Text.size();
    auto skipBlanks = [&] {
        while (p < n && IsBlankOrControl(Text[p]))
            ++p;
    };
    skipBlanks();
    while (p < n) {
        std::string entry;
        if (Text[p] == '"') {
            ++p;
            while (p < n) {
                if (Text[p] == '"') {
                    if (p + 1 < n && Text[p + 1] == '"') {
                        entry += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                entry += Text[p++];
            }
        } else {
            const std::size_t start = p;
            while (p<n&& static_cast<unsigned char>(Text[p])> ' ' && Text[p] != ',')
                ++p;
            entry.assign(Text.substr(start, p - start));
        }
        Items.push_back(std::move(entry));
        skipBlanks();
        if (p < n && Text[p] == ',') {
            if (p + 1 == n)
                Items.emplace_back(); // a trailing comma ends with an empty entry
            ++p;
            skipBlanks();
        }
    }
}

} // namespace qv
