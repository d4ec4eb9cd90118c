// qvscan PATH [--group BYTES] [--repeat N] [--threads N] [--statistics]: scans PATH with the
// program's scanner on this thread and prints one line per run: seconds, CPU seconds of the
// process, directories, files, bytes, and the resident set growth per directory. The benchmark
// scripts compare it with du. --statistics lets the scan keep its largest files and sums per file
// type, as the window does, and adds an estimate of the memory they hold.

#include "scan/DirScan.h"
#include "scan/ScanStatistics.h"
#include "tree/TreeTypes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

long CountDirectories(const qv::TGroupNode& Node) {
    long count = 0;
    std::vector<const qv::TGroupNode*> stack{&Node};
    while (!stack.empty()) {
        const qv::TGroupNode* n = stack.back();
        stack.pop_back();
        ++count;
        qv::TChildrenLock guard(*n);
        for (const qv::TFileSystemNode* child : guard.Children().Items())
            if (child->IsGroupNode() && !child->IsFileGroup())
                stack.push_back(static_cast<const qv::TGroupNode*>(child));
    }
    return count;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What the statistics of one walking thread hold at most, from the merged result: its files
// with their paths and its types, each with a hash node's overhead; times the threads.
double StatisticsKiB(const qv::TScanStatistics& Statistics, int Threads) {
    const qv::TScanStatistics::TSnapshot snapshot = Statistics.Snapshot();
    double bytes = 0;
    for (const qv::TLargeFile& file : snapshot.Largest)
        bytes += double(sizeof(qv::TLargeFile) + file.Path.capacity() + 1);
    for (const qv::TFileTypeSum& sum : snapshot.Types)
        bytes += double(sizeof(std::string) + 3 * sizeof(std::int64_t) + 2 * sizeof(void*) +
                        (sum.Type.size() > 15 ? sum.Type.size() + 1 : 0));
    return bytes * double(Threads) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: qvscan PATH [--group BYTES] [--repeat N] [--threads N] [--statistics]\n");
        return 2;
    }
    std::string path = argv[1];
    std::int64_t group = 1024 * 1024;
    int repeat = 1;
    int threads = 0;
    bool statistics = false;
    for (int i = 2; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--statistics") == 0) {
            statistics = true;
            --i;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (std::strcmp(argv[i], "--group") == 0)
            group = std::strtoll(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--threads") == 0)
            threads = std::atoi(argv[i + 1]);
    }
    for (int run = 0; run < repeat; ++run) {
        const long before = ResidentKiB();
        const double cpuBefore = CpuSeconds();
        auto root = std::make_unique<qv::TRootDirNode>();
        root->SetName(path);
        root->SetGroupFileSize(group);
        qv::TDirScanner scanner(*root);
        scanner.SetThreadCount(threads);
        auto recorded = statistics ? std::make_shared<qv::TScanStatistics>() : nullptr;
        scanner.SetStatistics(recorded);
        scanner.Scan(path, group);
        const double cpu = CpuSeconds() - cpuBefore;
        const long after = ResidentKiB();
        const long dirs = CountDirectories(*root);
        std::printf(
            "seconds=%.3f cpu=%.3f dirs=%ld files=%d bytes=%lld rss_kib=%ld bytes_per_dir=%.1f "
            "handoffs=%lld threads=%d\n",
            scanner.ElapsedSeconds(), cpu, dirs, root->GetFileCount(),
            static_cast<long long>(root->GetSize()), after,
            dirs ? double(after - before) * 1024.0 / double(dirs) : 0.0,
            static_cast<long long>(scanner.HandOffCount()), scanner.ThreadsUsed());
        if (recorded)
            std::printf("statistics_kib=%.0f largest=%zu types=%zu\n",
                        StatisticsKiB(*recorded, scanner.ThreadsUsed()),
                        recorded->Snapshot().Largest.size(), recorded->Snapshot().Types.size());
    }
    return 0;
}
