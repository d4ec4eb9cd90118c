#include "platform/DirReader.h"
#include "support/QvLogger.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace qv {

namespace {

// Links, when set, decides which names of linked files count (those of LinkDir as the scan
// met them); the others are marked, so that the directory's totals stay what the scan found.
// Filter takes the length and whether the name is such an uncounted one.
TFileList ListFilesWith(const std::string& Dir, bool FollowLast,
                        const std::function<bool(std::int64_t, bool)>& Filter,
                        const std::atomic<bool>* Stop, THardLinkSet* Links,
                        const TGroupNode* LinkDir) {
    LogDebug("ScanForChildrenFiles: " + Dir);
    TFileList list;
    list.Error = ListDirectoryFiles(
        Dir, FollowLast,
        [&](const char* Name, const TListedFile& File) {
            const bool uncounted = Links && File.Regular && File.Links > 1 &&
                                   !Links->CountFirst(File.Dev, File.Ino, LinkDir, Name);
            if (!Filter(File.Size, uncounted))
                return;
            auto file = std::make_unique<TFileNode>();
            file->SetSize(File.Size);
            file->SetSizeOnDisk(File.SizeOnDisk);
            file->SetName(Name);
            file->SetAttributes(File.Attributes);
            file->SetUncountedLink(uncounted);
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
    THardLinkSet* links = Request.HardLinks.get();
    // A small name that counts nothing is in no group (the scan grouped only what counts):
    // its directory lists it, whether it has a group or not.
    if (Request.Small)
        return ListFilesWith(
            Request.Dir, Request.FollowLast,
            [threshold](std::int64_t s, bool uncounted) { return s < threshold && !uncounted; },
            Stop, links, Request.LinkDir);
    return ListFilesWith(
        Request.Dir, Request.FollowLast,
        [threshold](std::int64_t s, bool uncounted) { return s >= threshold || uncounted; }, Stop,
        links, Request.LinkDir);
}

std::int32_t ScanForChildrenFiles(const std::string& Dir, TGroupNode& Node,
                                  const std::function<bool(std::int64_t)>& Filter) {
    const TGroupNode* dirNode = Node.IsFileGroup() ? Node.Parent() : &Node;
    const bool followLast =
        !dirNode || !dirNode->Parent() || dirNode->Parent()->GetNodeType() == ntFixedDrives;
    std::shared_ptr<THardLinkSet> links = HardLinkSetOf(Node);
    if (links && !links->CountsOnce())
        links.reset();
    TFileList list = ListFilesWith(
        Dir, followLast, [&](std::int64_t s, bool) { return Filter(s); }, nullptr, links.get(),
        dirNode);
    if (list.Error != 0)
        return 0;
    return Node.AppendFiles(list, false);
}

} // namespace qv
