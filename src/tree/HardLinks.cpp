#include "tree/HardLinks.h"

#include "tree/TreeTypes.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace qv {

THardLinkSet::TShard& THardLinkSet::ShardOf(const TKey& Key) noexcept {
    return Shards[TKeyHash{}(Key) % ShardCount];
}

const THardLinkSet::TShard& THardLinkSet::ShardOf(const TKey& Key) const noexcept {
    return Shards[TKeyHash{}(Key) % ShardCount];
}

std::uint64_t THardLinkSet::HashName(std::string_view Name) noexcept {
    return std::hash<std::string_view>{}(Name);
}

bool THardLinkSet::CountFirst(std::uint64_t Dev, std::uint64_t Ino, const TGroupNode* Dir,
                              std::string_view Name) {
    const TKey key{Dev, Ino};
    const std::uint64_t hash = HashName(Name);
    TShard& shard = ShardOf(key);
    std::lock_guard guard(shard.Lock);
    const auto [it, added] = shard.Files.try_emplace(key, TFirstName{Dir, hash});
    // The same name met again (a listing of a folder the scan counted it in) counts again.
    return added || (it->second.Dir == Dir && it->second.NameHash == hash);
}

bool THardLinkSet::IsCounted(std::uint64_t Dev, std::uint64_t Ino, const TGroupNode* Dir,
                             std::string_view Name) const {
    const TKey key{Dev, Ino};
    const TShard& shard = ShardOf(key);
    std::lock_guard guard(shard.Lock);
    const auto it = shard.Files.find(key);
    return it == shard.Files.end() ||
           (it->second.Dir == Dir && it->second.NameHash == HashName(Name));
}

void THardLinkSet::Forget(const TGroupNode& Subtree) {
    if (Count() == 0)
        return;
    // A whole tree: every entry is its own.
    if (dynamic_cast<const TRootDirNode*>(&Subtree)) {
        Clear();
        return;
    }
    // The directories of the subtree, collected first: the entries' own pointers may name
    // nodes freed long ago, so they are compared with live ones and never followed.
    std::vector<const TGroupNode*> dirs{&Subtree};
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        TChildrenLock guard(*dirs[i]);
        for (const TFileSystemNode* child : guard.Children().Items())
            if (child->IsGroupNode())
                dirs.push_back(static_cast<const TGroupNode*>(child));
    }
    std::sort(dirs.begin(), dirs.end());
    for (TShard& shard : Shards) {
        std::lock_guard guard(shard.Lock);
        std::erase_if(shard.Files, [&](const auto& Entry) {
            return std::binary_search(dirs.begin(), dirs.end(), Entry.second.Dir);
        });
    }
}

void THardLinkSet::ForgetName(const TGroupNode* Dir, std::string_view Name) {
    if (Count() == 0)
        return;
    const std::uint64_t hash = HashName(Name);
    for (TShard& shard : Shards) {
        std::lock_guard guard(shard.Lock);
        std::erase_if(shard.Files, [&](const auto& Entry) {
            return Entry.second.Dir == Dir && Entry.second.NameHash == hash;
        });
    }
}

void THardLinkSet::Clear() {
    for (TShard& shard : Shards) {
        std::lock_guard guard(shard.Lock);
        shard.Files.clear();
    }
}

std::size_t THardLinkSet::Count() const {
    std::size_t count = 0;
    for (const TShard& shard : Shards) {
        std::lock_guard guard(shard.Lock);
        count += shard.Files.size();
    }
    return count;
}

} // namespace qv
