#include "platform/DirReader.h"
#include "support/QvLogger.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace qv {

namespace {

TFileList ListFilesWith(const std::string& Dir, bool FollowLast,
                        const std::function<bool(std::int64_t)>& Filter,
                        const std::atomic<bool>* Stop) {
    LogDebug("ScanForChildrenFiles: " + Dir);
    TFileList list;
    list.Error = ListDirectoryFiles(
        Dir, FollowLast,
        [&](const char* Name, const TListedFile& File) {
            if (!Filter(File.Size))
                return;
            auto file = std::make_unique<TFileNode>();
            file->SetSize(File.Size);
            file->SetSizeOnDisk(File.SizeOnDisk);
            file->SetName(Name);
            file->SetAttributes(File.Attributes);
            list.Files.push_back(std::move(file));
        },
        Stop);
    if (list.Error != 0) {
        list.Files.clear();
        return list;
    }
    std::sort(list.Files.begin(), list.Files.end(), [](const auto& a, const auto& b) {
        return std::strcoll(a->NameCStr(), b->NameCStr()) < 0;
    });
    return list;
}

} // namespace

TFileList ListFiles(const TFileListRequest& Request, const std::atomic<bool>* Stop) {
    const std::int64_t threshold = Request.Threshold;
    if (Request.Small)
        return ListFilesWith(
            Request.Dir, Request.FollowLast, [threshold](std::int64_t s) { return s < threshold; },
            Stop);
    return ListFilesWith(
        Request.Dir, Request.FollowLast, [threshold](std::int64_t s) { return s >= threshold; },
        Stop);
}

std::int32_t ScanForChildrenFiles(const std::string& Dir, TGroupNode& Node,
                                  const std::function<bool(std::int64_t)>& Filter) {
    const TGroupNode* dirNode = Node.IsFileGroup() ? Node.Parent() : &Node;
    const bool followLast =
        !dirNode || !dirNode->Parent() || dirNode->Parent()->GetNodeType() == ntFixedDrives;
    TFileList list = ListFilesWith(Dir, followLast, Filter, nullptr);
    if (list.Error != 0)
        return 0;
    return Node.AppendFiles(list, false);
}

} // namespace qv
