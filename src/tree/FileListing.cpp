#include "platform/DirReader.h"
#include "support/QvLogger.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace qv {

std::int32_t ListChildrenFiles(const std::string& Dir, TGroupNode& Node,
                               const std::function<bool(std::int64_t)>& Filter, bool& Listed) {
    LogDebug("ScanForChildrenFiles: " + Dir);
    Listed = false;

    // A root's path may be a symbolic link the user chose; every other directory was
    // reached without following one, and must be listed the same way.
    const TGroupNode* dirNode = Node.IsFileGroup() ? Node.Parent() : &Node;
    const bool followLast =
        !dirNode || !dirNode->Parent() || dirNode->Parent()->GetNodeType() == ntFixedDrives;

    // Built and sorted privately, so that Node's lock is held only for the appends.
    std::vector<std::unique_ptr<TFileNode>> files;
    const int error = ListDirectoryFiles(
        Dir, followLast, [&](const char* Name, std::int64_t Size, std::uint16_t Attributes) {
            if (!Filter(Size))
                return;
            auto file = std::make_unique<TFileNode>();
            file->SetSize(Size);
            file->SetName(Name);
            file->SetAttributes(Attributes);
            files.push_back(std::move(file));
        });
    if (error != 0)
        return 0;
    Listed = true;

    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return std::strcoll(a->NameCStr(), b->NameCStr()) < 0;
    });
    Node.ResetFilesSize();
    TChildrenLock guard(Node);
    for (auto& file : files) {
        file->ParentNode = &Node;
        guard.Children().Add(file.get());
        file.release();
    }
    return std::int32_t(files.size());
}

std::int32_t ScanForChildrenFiles(const std::string& Dir, TGroupNode& Node,
                                  const std::function<bool(std::int64_t)>& Filter) {
    bool listed = false;
    return ListChildrenFiles(Dir, Node, Filter, listed);
}

} // namespace qv
