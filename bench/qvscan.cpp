// qvscan PATH [--group BYTES] [--repeat N] [--threads N]: scans PATH with the program's scanner on
// this thread and prints one line per run: seconds, directories, files, bytes, and the resident set
// growth per directory. The benchmark scripts compare it with du.

#include "scan/DirScan.h"
#include "tree/TreeTypes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qvscan PATH [--group BYTES] [--repeat N] [--threads N]\n");
        return 2;
    }
    std::string path = argv[1];
    std::int64_t group = 1024 * 1024;
    int repeat = 1;
    int threads = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--group") == 0)
            group = std::strtoll(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--threads") == 0)
            threads = std::atoi(argv[i + 1]);
    }
    for (int run = 0; run < repeat; ++run) {
        const long before = ResidentKiB();
        auto root = std::make_unique<qv::TRootDirNode>();
        root->SetName(path);
        root->SetGroupFileSize(group);
        qv::TDirScanner scanner(*root);
        scanner.SetThreadCount(threads);
        scanner.Scan(path, group);
        const long after = ResidentKiB();
        const long dirs = CountDirectories(*root);
        std::printf("seconds=%.3f dirs=%ld files=%d bytes=%lld rss_kib=%ld bytes_per_dir=%.1f "
                    "handoffs=%lld threads=%d\n",
                    scanner.ElapsedSeconds(), dirs, root->GetFileCount(),
                    static_cast<long long>(root->GetSize()), after,
                    dirs ? double(after - before) * 1024.0 / double(dirs) : 0.0,
                    static_cast<long long>(scanner.HandOffCount()), scanner.ThreadsUsed());
    }
    return 0;
}
