// One thread scans a generated tree while others read it the way the window does: live
// totals, child lists under the lock, files loaded from directories still being scanned,
// the Expanded flag toggled, and a stop. Run under ThreadSanitizer, this is the proof that
// the tree is shared without a data race.

#include "TestTree.h"
#include "platform/DirReader.h"
#include "scan/DirScan.h"
#include "tree/FileListThread.h"
#include "tree/HardLinks.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qv {
namespace {

using test::TTempDir;

constexpr std::int64_t Threshold = 512;

struct TExpected {
    std::int64_t Bytes = 0;
    std::int32_t Files = 0;
};

// 30 x 12 x 4 directories with a few files each, some small enough to be grouped.
TExpected MakeTree(const TTempDir& T) {
    TExpected e;
    std::mt19937 random(7);
    for (int a = 0; a < 30; ++a)
        for (int b = 0; b < 12; ++b)
            for (int c = 0; c < 4; ++c) {
                const std::string dir =
                    "a" + std::to_string(a) + "/b" + std::to_string(b) + "/c" + std::to_string(c);
                const int files = int(random() % 6);
                for (int f = 0; f < files; ++f) {
                    const std::int64_t size =
                        random() % 2 ? random() % Threshold : random() % 100000;
                    T.File(dir + "/f" + std::to_string(f), size);
                    e.Bytes += size;
                    ++e.Files;
                }
            }
    return e;
}

// Visits every directory reachable now, reading what the grid reads. Directories are never
// freed during a scan, so their pointers may be kept after the parent's lock is released;
// every other node is touched only while its parent's lock is held.
std::vector<TDirNode*> ReadEverything(TDirNode& Root, std::int64_t& Sink, bool Expand) {
    std::vector<TDirNode*> dirs{&Root};
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        TDirNode& dir = *dirs[i];
        Sink += dir.GetSize() + dir.GetFileCount() + dir.Flags() + dir.ScanError();
        Sink += dir.GetSizeOnDisk();
        Sink += std::int64_t(dir.GetFullPath().size() + dir.GetDisplayName().size());
        if (Expand)
            dir.SetExpanded(true);
        TChildrenLock guard(dir);
        for (TFileSystemNode* child : guard.Children().Items()) {
            Sink += child->GetSize() + child->GetFileCount() + std::int64_t(child->Name().size());
            Sink += child->GetSizeOnDisk();
            if (child->IsGroupNode() && !child->IsFileGroup())
                dirs.push_back(static_cast<TDirNode*>(child));
        }
    }
    return dirs;
}

// Returns the directories the walker expanded while the scan ran.
std::vector<TDirNode*> ScanWhileReading(const std::string& Path, TRootDirNode& Root, bool StopEarly,
                                        int Threads = 0, bool Load = true) {
    TDirScanner scanner(Root);
    scanner.SetThreadCount(Threads);
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> sink{0};

    std::thread scan([&] {
        scanner.Scan(Path, Threshold);
        done = true;
    });
    std::thread totals([&] {
        std::int64_t local = 0;
        while (!done) {
            local += Root.GetSize() + Root.GetFileCount();
            local += std::int64_t(scanner.GetCurrentPath().size());
        }
        sink += local;
    });
    std::vector<TDirNode*> expanded;
    std::thread walker([&] {
        std::int64_t local = 0;
        while (!done)
            expanded = ReadEverything(Root, local, true);
        sink += local;
    });
    // The "GUI" thread: opens directories while the scan may still be filling them.
    std::int64_t local = 0;
    std::mt19937 random(11);
    int loaded = 0;
    while (!done) {
        std::vector<TDirNode*> dirs = ReadEverything(Root, local, false);
        TDirNode* pick = dirs[random() % dirs.size()];
        if (Load && pick->LoadFiles() >= 0)
            ++loaded;
        if (StopEarly && dirs.size() > 200)
            scanner.Stop();
    }
    scan.join();
    totals.join();
    walker.join();
    sink += local;
    EXPECT_NE(sink.load(), -1); // keeps the reads from being optimised away
    EXPECT_GE(loaded, 0);
    // The scan thread's flag writes never clear the bit the GUI set.
    for (TDirNode* dir : expanded)
        EXPECT_TRUE(dir->IsExpanded()) << dir->GetFullPath() << ": Expanded was lost";
    return expanded;
}

struct TTotals {
    std::int64_t Bytes;
    std::int32_t Files;
};

// Recomputes every directory's totals from its children, bottom-up, and returns the root's.
TTotals Recompute(TDirNode& Root) {
    std::int64_t sink = 0;
    std::vector<TDirNode*> dirs = ReadEverything(Root, sink, false);
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        EXPECT_FALSE((*it)->IsScanning()) << (*it)->GetFullPath();
        (*it)->UpdateTotals();
    }
    return {Root.GetSize(), Root.GetFileCount()};
}

TEST(ConcurrencyTest, ScanWhileTheWindowReadsLoadsAndExpands) {
    TTempDir t;
    const TExpected expected = MakeTree(t);
    TRootDirNode root;
    root.SetName(t.Path());
    root.SetGroupFileSize(Threshold);
    EXPECT_FALSE(ScanWhileReading(t.Path(), root, false).empty());

    EXPECT_FALSE(root.IsIncomplete());
    EXPECT_EQ(root.GetSize(), expected.Bytes);
    EXPECT_EQ(root.GetFileCount(), expected.Files);

    // Directories opened during the scan list their files; the sums over the nodes must
    // still come out exactly right, level by level.
    TTotals sums = Recompute(root);
    EXPECT_EQ(sums.Bytes, expected.Bytes);
    EXPECT_EQ(sums.Files, expected.Files);

    // Opening every directory and group now changes no total.
    std::int64_t sink = 0;
    for (TDirNode* dir : ReadEverything(root, sink, false)) {
        dir->LoadFiles();
        if (TFileGroupNode* group = dir->FileGroup())
            group->LoadFiles();
    }
    sums = Recompute(root);
    EXPECT_EQ(sums.Bytes, expected.Bytes);
    EXPECT_EQ(sums.Files, expected.Files);
    // The sizes on disk were handed up while the window read and listed.
    EXPECT_EQ(root.GetSizeOnDisk(), test::DiskSums(t.Path(), true)[t.Path()].OnDisk);
}

// Scan threads meet the names of linked files at the same time: each file counts at
// exactly one name, whichever thread met it first, and the set agrees afterwards.
TEST(ConcurrencyTest, LinkedFilesMetByScanThreadsAtOnce) {
    constexpr int Threads = 6;
    constexpr std::uint64_t Files = 4001; // prime: each thread's order meets every file once
    THardLinkSet set;
    TRootDirNode root;
    std::vector<TDirNode*> dirs;
    for (int i = 0; i < Threads; ++i)
        dirs.push_back(root.AddDirectory("d" + std::to_string(i), faDirectory));
    std::vector<std::vector<std::uint64_t>> won(Threads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < Threads) {
            }
            // Each thread in its own order, so that they collide on every shard.
            for (std::uint64_t n = 0; n < Files; ++n) {
                const std::uint64_t ino = (n * (2 * std::uint64_t(i) + 1)) % Files;
                if (set.CountFirst(7, ino, dirs[std::size_t(i)], "name"))
                    won[std::size_t(i)].push_back(ino);
                (void)set.IsCounted(7, (ino + 1) % Files, dirs[0], "name");
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::vector<int> winners(Files, 0);
    for (int i = 0; i < Threads; ++i)
        for (std::uint64_t ino : won[std::size_t(i)]) {
            ++winners[ino];
            EXPECT_TRUE(set.IsCounted(7, ino, dirs[std::size_t(i)], "name"));
            EXPECT_FALSE(set.IsCounted(7, ino, dirs[std::size_t((i + 1) % Threads)], "name"));
        }
    EXPECT_EQ(std::count(winners.begin(), winners.end(), 1), std::ptrdiff_t(Files));
    EXPECT_EQ(set.Count(), Files);
}

// The window's way of opening folders: their files are listed on a worker while the scan
// may still be filling them, and the listing is ended, or dropped as a collapse or a re-scan
// drops it, on the "GUI" thread. A large folder is opened while the scan is inside it.
TEST(ConcurrencyTest, FoldersListedOnAWorkerWhileTheScanFillsThem) {
    TTempDir t;
    TExpected expected = MakeTree(t);
    for (int f = 0; f < 3000; ++f) {
        const std::int64_t size = f % 3 ? f % Threshold : Threshold + f;
        t.File("a7/large/f" + std::to_string(f), size);
        expected.Bytes += size;
        ++expected.Files;
    }
    TRootDirNode root;
    root.SetName(t.Path());
    root.SetGroupFileSize(Threshold);
    TDirScanner scanner(root);
    std::atomic<bool> done{false};
    std::thread scan([&] {
        scanner.Scan(t.Path(), Threshold);
        done = true;
    });

    std::mutex lock;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<TFileList>>> arrived;
    TFileListThread lister([&](std::uint64_t Ticket, std::shared_ptr<TFileList> List) {
        std::lock_guard guard(lock);
        arrived.emplace_back(Ticket, std::move(List));
    });
    std::map<std::uint64_t, TGroupNode*> pending;
    std::uint64_t next = 1;
    int ended = 0;
    bool largeOpened = false;
    std::mt19937 random(5);
    std::int64_t sink = 0;
    const auto open = [&](TGroupNode& Node) {
        TFileListRequest request;
        if (!Node.BeginListFiles(request))
            return;
        pending.emplace(next, &Node);
        lister.Add(next++, std::move(request));
    };
    while (!done || !pending.empty()) {
        if (!done) {
            const std::vector<TDirNode*> dirs = ReadEverything(root, sink, false);
            TDirNode* pick = dirs[random() % dirs.size()];
            if (TFileGroupNode* group = pick->FileGroup(); group && random() % 2)
                open(*group);
            else
                open(*pick);
            if (!largeOpened)
                for (TDirNode* dir : dirs)
                    if (dir->Name() == "large") {
                        open(*dir);
                        largeOpened = true;
                    }
        }
        decltype(arrived) batch;
        {
            std::lock_guard guard(lock);
            batch.swap(arrived);
        }
        for (auto& [ticket, list] : batch)
            if (const auto found = pending.find(ticket); found != pending.end()) {
                found->second->EndListFiles(*list);
                pending.erase(found);
                ++ended;
            }
        if (!pending.empty() && random() % 4 == 0) {
            const auto first = pending.begin();
            lister.Cancel(first->first);
            first->second->CancelListFiles();
            pending.erase(first);
        }
        if (done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    scan.join();
    // The large folder is opened as soon as it is seen, mostly while the scan is in it; a
    // machine that finishes the scan first still checks every sum below.
    EXPECT_GT(ended, 0);

    EXPECT_EQ(root.GetSize(), expected.Bytes);
    EXPECT_EQ(root.GetFileCount(), expected.Files);
    TTotals sums = Recompute(root);
    EXPECT_EQ(sums.Bytes, expected.Bytes);
    EXPECT_EQ(sums.Files, expected.Files);
    // Listings that were dropped left their folders to be listed again.
    for (TDirNode* dir : ReadEverything(root, sink, false)) {
        EXPECT_FALSE(dir->IsListingFiles()) << dir->GetFullPath();
        dir->LoadFiles();
        if (TFileGroupNode* group = dir->FileGroup())
            group->LoadFiles();
    }
    sums = Recompute(root);
    EXPECT_EQ(sums.Bytes, expected.Bytes);
    EXPECT_EQ(sums.Files, expected.Files);
}

TEST(ConcurrencyTest, StopWhileTheWindowReads) {
    TTempDir t;
    const TExpected expected = MakeTree(t);
    for (int round = 0; round < 3; ++round) {
        TRootDirNode root;
        root.SetName(t.Path());
        root.SetGroupFileSize(Threshold);
        (void)ScanWhileReading(t.Path(), root, true);
        const std::int64_t bytes = root.GetSize();
        const std::int32_t files = root.GetFileCount();
        EXPECT_LE(bytes, expected.Bytes);
        EXPECT_LE(files, expected.Files);
        // A directory opened while its listing was cut short lists all its files: its sums
        // can only grow towards the whole tree's.
        const TTotals sums = Recompute(root);
        EXPECT_GE(sums.Bytes, bytes);
        EXPECT_LE(sums.Bytes, expected.Bytes);
        EXPECT_GE(sums.Files, files);
        EXPECT_LE(sums.Files, expected.Files);
    }
}

// Directories vanish, move away and turn into files or links while the scan walks them.
TEST(ConcurrencyTest, TreeChangingUnderTheScan) {
    TTempDir t;
    TTempDir away;
    MakeTree(t);
    TRootDirNode root;
    root.SetName(t.Path());
    root.SetGroupFileSize(Threshold);
    TDirScanner scanner(root);
    std::atomic<bool> done{false};
    std::thread scan([&] {
        scanner.Scan(t.Path(), Threshold);
        done = true;
    });
    std::mt19937 random(3);
    int changes = 0;
    while (!done && changes < 300) {
        const std::string b =
            "a" + std::to_string(random() % 30) + "/b" + std::to_string(random() % 12);
        const std::string c = b + "/c" + std::to_string(random() % 4);
        switch (changes++ % 3) {
        case 0: // moved out of the scanned tree
            ::rename((t / b).c_str(), (away / std::to_string(changes)).c_str());
            break;
        case 1: // replaced by a file
            test::RemoveTree(t / c);
            TFd(::open((t / c).c_str(), O_WRONLY | O_CREAT, 0644)); // may be gone: ignored
            break;
        default: // replaced by a link to a directory
            test::RemoveTree(t / c);
            ::symlink(t.Path().c_str(), (t / c).c_str());
            break;
        }
    }
    scan.join();

    std::int64_t sink = 0;
    std::vector<TDirNode*> dirs = ReadEverything(root, sink, false);
    int errors = 0;
    for (TDirNode* dir : dirs) {
        const int error = dir->ScanError();
        EXPECT_TRUE(error == 0 || error == ENOENT || error == ENOTDIR || error == ELOOP)
            << dir->GetFullPath() << ": " << error;
        EXPECT_FALSE(dir->IsScanning());
        errors += error != 0;
    }
    RecordProperty("changes", changes);
    RecordProperty("errors", errors);
    // The stored totals are exactly the sums over the nodes, level by level.
    const std::int64_t bytes = root.GetSize();
    const std::int32_t files = root.GetFileCount();
    const TTotals sums = Recompute(root);
    EXPECT_EQ(sums.Bytes, bytes);
    EXPECT_EQ(sums.Files, files);
}

// What a finished scan says about one directory.
struct TDirFacts {
    std::int64_t Bytes = 0;
    std::int64_t OnDisk = 0;
    std::int32_t Files = 0;
    std::int64_t GroupBytes = -1; // -1: no "Grouped Files" node
    std::int32_t GroupFiles = 0;
    int Error = 0;
    std::uint8_t Flags = 0;
    std::vector<std::string> Children;
};

std::map<std::string, TDirFacts> Facts(TDirNode& Root) {
    std::map<std::string, TDirFacts> facts;
    std::int64_t sink = 0;
    for (TDirNode* dir : ReadEverything(Root, sink, false)) {
        TDirFacts& f = facts[dir->GetFullPath()];
        f.Bytes = dir->GetSize();
        f.OnDisk = dir->GetSizeOnDisk();
        f.Files = dir->GetFileCount();
        f.Error = dir->ScanError();
        f.Flags = dir->Flags() & (nfIncomplete | nfScanning | nfEmpty | nfOtherFileSystem);
        if (const TFileGroupNode* group = dir->FileGroup()) {
            f.GroupBytes = group->GetSize();
            f.GroupFiles = group->GetFileCount();
        }
        TChildrenLock guard(*dir);
        for (TFileSystemNode* child : guard.Children().Items())
            f.Children.emplace_back(child->Name());
        std::sort(f.Children.begin(), f.Children.end());
    }
    return facts;
}

// Several threads walk one tree (more than the machine has processors, so that they
// interleave) while the window reads it: the same tree, sums and flags as one thread's walk.
// (Nothing is opened meanwhile: an opened directory keeps a small file grouped that the
// walk would otherwise list with its other files.)
TEST(ConcurrencyTest, ParallelWalkGivesTheSingleWalksTree) {
    TTempDir t;
    MakeTree(t);
    for (int i = 0; i < 40; ++i)
        t.MkDir("a3/empty" + std::to_string(i));
    t.MkDir("chain");
    test::MakeChain(t / "chain", 300);
    ASSERT_EQ(::symlink("/nowhere", (t / "a5/b1/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((t / "a6/fifo").c_str(), 0644), 0);
    for (int i = 0; i < 30; ++i)
        t.Data("a" + std::to_string(i) + "/b" + std::to_string(i % 12) + "/data", 5000 + i);

    TRootDirNode single;
    single.SetName(t.Path());
    single.SetGroupFileSize(Threshold);
    TDirScanner one(single);
    one.SetThreadCount(1);
    one.Scan(t.Path(), Threshold);
    EXPECT_EQ(one.HandOffCount(), 0);
    const std::map<std::string, TDirFacts> expected = Facts(single);

    for (int round = 0; round < 3; ++round) {
        TRootDirNode root;
        root.SetName(t.Path());
        root.SetGroupFileSize(Threshold);
        (void)ScanWhileReading(t.Path(), root, false, 4, false);
        const std::map<std::string, TDirFacts> got = Facts(root);
        ASSERT_EQ(got.size(), expected.size());
        for (const auto& [path, want] : expected) {
            const auto it = got.find(path);
            ASSERT_NE(it, got.end()) << path;
            const TDirFacts& have = it->second;
            EXPECT_EQ(have.Bytes, want.Bytes) << path;
            EXPECT_EQ(have.OnDisk, want.OnDisk) << path;
            EXPECT_EQ(have.Files, want.Files) << path;
            EXPECT_EQ(have.GroupBytes, want.GroupBytes) << path;
            EXPECT_EQ(have.GroupFiles, want.GroupFiles) << path;
            EXPECT_EQ(have.Error, want.Error) << path;
            EXPECT_EQ(int(have.Flags), int(want.Flags)) << path;
            EXPECT_EQ(have.Children, want.Children) << path;
        }
    }
}

// Stops at random moments of a walk on four threads: nothing stays "scanning", a directory
// that is not marked incomplete has its whole subtree's totals, and the incomplete ones
// never claim more than there is.
TEST(ConcurrencyTest, ParallelWalkStoppedAtRandomMoments) {
    TTempDir t;
    const TExpected total = MakeTree(t);
    TRootDirNode single;
    single.SetName(t.Path());
    single.SetGroupFileSize(Threshold);
    TDirScanner one(single);
    one.SetThreadCount(1);
    one.Scan(t.Path(), Threshold);
    const std::map<std::string, TDirFacts> expected = Facts(single);
    ASSERT_EQ(single.GetSize(), total.Bytes);

    // Moments spread over the time one thread takes for the whole walk.
    const auto span = std::max<std::uint32_t>(1, std::uint32_t(one.ElapsedSeconds() * 1e6));
    std::mt19937 random(5);
    int cut = 0;
    for (int round = 0; round < 12; ++round) {
        TRootDirNode root;
        root.SetName(t.Path());
        root.SetGroupFileSize(Threshold);
        TDirScanner scanner(root);
        scanner.SetThreadCount(4);
        std::thread stopper([&, wait = random() % span] {
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
            scanner.Stop();
        });
        scanner.Scan(t.Path(), Threshold);
        stopper.join();
        cut += root.IsIncomplete();
        for (const auto& [path, have] : Facts(root)) {
            const TDirFacts& want = expected.at(path);
            EXPECT_FALSE(have.Flags & nfScanning) << path;
            if (have.Flags & nfIncomplete) {
                EXPECT_LE(have.Bytes, want.Bytes) << path;
                EXPECT_LE(have.OnDisk, want.OnDisk) << path;
                EXPECT_LE(have.Files, want.Files) << path;
            } else {
                EXPECT_EQ(have.Bytes, want.Bytes) << path;
                EXPECT_EQ(have.OnDisk, want.OnDisk) << path;
                EXPECT_EQ(have.Files, want.Files) << path;
                EXPECT_EQ(have.Children, want.Children) << path;
            }
        }
    }
    RecordProperty("stopped", cut);
}

} // namespace
} // namespace qv
