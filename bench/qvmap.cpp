// qvmap: how fast the treemap is ready after a scan, and whether the GUI thread ever waits
// for it. Scans TREE on a scan thread into a treemap panel on the offscreen platform (which
// redraws at its calm rate meanwhile), then asks for a WIDTHxHEIGHT map of the whole tree
// and prints the time from that request to the result on the GUI thread, the worker's own
// drawing time, and the longest GUI-thread call of the view (request, result handover,
// paint) and stall of the event loop.
//
//   qvmap TREE [--size 1200x500] [--group BYTES] [--png FILE] [--repeat N]

#include "scan/DirScan.h"
#include "scan/ScanStatistics.h"
#include "tree/TreeTypes.h"
#include "view/FileTypeColours.h"
#include "view/TreeMapView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs the event loop until Done, noting the longest gap between two ticks of a 1 ms timer.
template <class TDone> void Pump(TDone Done, double& MaxGapMs) {
    QElapsedTimer gap;
    gap.start();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        MaxGapMs = std::max(MaxGapMs, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    probe.start(1);
    while (!Done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: qvmap TREE [--size WxH] [--group BYTES] [--png FILE] [--repeat N]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string tree = argv[1];
    int width = 1200;
    int height = 500;
    long long group = 1048576;
    int repeat = 3;
    std::string png;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0)
            std::sscanf(argv[i + 1], "%dx%d", &width, &height);
        else if (std::strcmp(argv[i], "--group") == 0)
            group = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--png") == 0)
            png = argv[i + 1];
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[i + 1]));
    }

    QApplication app(argc, argv);
    qv::TTreeMapView view;
    view.resize(width, height);
    view.show();

    qv::TRootDirNode root;
    root.SetPath(tree);
    root.SetGroupFileSize(group);
    auto statistics = std::make_shared<qv::TScanStatistics>();
    qv::TDirScanner scanner(root);
    scanner.SetStatistics(statistics);

    // The first paint of a window makes its backing store: not the map's cost.
    view.repaint();
    view.ResetTimes();
    int drawings = 0;
    view.OnDrawn = [&] { ++drawings; };
    view.SetRoot(&root);
    view.SetCalmRedraw(true);

    std::atomic<bool> scanned{false};
    QElapsedTimer clock;
    clock.start();
    std::thread scan([&] {
        scanner.Scan(tree, group);
        scanned.store(true);
    });
    double scanGapMs = 0;
    Pump([&] { return scanned.load(); }, scanGapMs);
    scan.join();
    const double scanSeconds = double(clock.elapsed()) / 1000.0;
    const qv::TTreeMapViewTimes duringScan = view.Times();
    const int drawingsDuringScan = drawings;

    // What the window does when the scan ends: the statistics' lists, then the map.
    const qv::TScanStatistics::TSnapshot snapshot = statistics->Snapshot();
    std::vector<std::string> types;
    for (const qv::TFileTypeSum& sum : snapshot.Types)
        types.push_back(sum.Type);
    view.SetLargestFiles(snapshot.Largest);
    view.SetTypeColours(std::make_shared<const qv::TFileTypeColours>(types));

    std::vector<double> readyMs;
    std::vector<double> workerMs;
    double maxGapMs = 0;
    // Waits out a drawing the calm redraw may have under way.
    Pump([&] { return !view.IsDrawing(); }, maxGapMs);
    view.SetCalmRedraw(false);
    view.ResetTimes();
    maxGapMs = 0;
    for (int i = 0; i < repeat; ++i) {
        if (i > 0)
            view.Redraw();
        Pump([&] { return !view.IsDrawing(); }, maxGapMs);
        view.repaint();
        readyMs.push_back(view.Times().LastRequestToResult);
        workerMs.push_back(view.Result()->Milliseconds);
    }
    const qv::TTreeMapViewTimes after = view.Times();
    const qv::TTreeMapResult& result = *view.Result();
    if (!png.empty())
        result.Image.save(QString::fromStdString(png));

    std::sort(readyMs.begin(), readyMs.end());
    std::sort(workerMs.begin(), workerMs.end());
    std::printf("tree %s  scan %.3f s  files %d  map %dx%d\n", tree.c_str(), scanSeconds,
                root.GetFileCount(), width, height);
    std::printf("during the scan: %d drawings, longest GUI call: request %.2f ms, handover "
                "%.2f ms, paint %.2f ms; longest event loop stall %.2f ms\n",
                drawingsDuringScan, duringScan.Request, duringScan.Handover, duringScan.Paint,
                scanGapMs);
    std::printf("after the scan: ready %.1f ms (median of %d; min %.1f, max %.1f), worker %.1f "
                "ms, %zu rectangles listed, %zu nodes read\n",
                readyMs[readyMs.size() / 2], repeat, readyMs.front(), readyMs.back(),
                workerMs[workerMs.size() / 2], result.Items.size(), result.NodesVisited);
    std::printf("longest GUI call: request %.2f ms, handover %.2f ms, paint %.2f ms; longest "
                "event loop stall %.2f ms\n",
                after.Request, after.Handover, after.Paint, maxGapMs);
    return 0;
}
