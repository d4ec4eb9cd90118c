// qvgui: how the grid keeps up while a scan runs. Scans TREE on the scan threads into a
// grid on the offscreen platform, opens rows (breadth first) until about ROWS rows are
// visible, and times every refresh tick: bringing the rows up to date and repainting the
// grid, as the window does every 250 ms. Also reports how long the GUI thread waited for
// node locks held by the scan thread, and the longest stall of the event loop.
//
//   qvgui TREE [ROWS] [--reset]
//
// --reset rebuilds the rows from scratch on each tick (a model reset that re-expands the
// remembered rows) instead of bringing them up to date, for comparison.

#include "app/QtDispatcher.h"
#include "scan/ScanThread.h"
#include "tree/NodeLock.h"
#include "tree/TreeTypes.h"
#include "view/FileIcons.h"
#include "view/QvBarChartPainter.h"
#include "view/VirtualFileTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

double Median(std::vector<double> Values) {
    if (Values.empty()) {
        return 0;
    }
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

double Max(const std::vector<double>& Values) {
    return Values.empty() ? 0 : *std::max_element(Values.begin(), Values.end());
}

int VisibleRows(const qv::TVirtualFileTree& Grid, const QModelIndex& Parent) {
    int Count = 0;
    const int Rows = Grid.model()->rowCount(Parent);
    for (int i = 0; i < Rows; ++i) {
        const QModelIndex Row = Grid.model()->index(i, 0, Parent);
        ++Count;
        if (Grid.isExpanded(Row)) {
            Count += VisibleRows(Grid, Row);
        }
    }
    return Count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qvgui TREE [ROWS] [--reset]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string Tree = argv[1];
    int Target = 10000;
    bool Reset = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reset") == 0) {
            Reset = true;
        } else {
            Target = std::atoi(argv[i]);
        }
    }

    QApplication App(argc, argv);
    qv::TFileIconTable Icons;
    auto BarPainter = qv::CreatePainter(nullptr);
    qv::TQuorvelOneBarChartPainter ChildBarPainter(QColor(0xD7, 0xD7, 0xD7),
                                                   QColor(0xF7, 0xF7, 0xF7));
    qv::TFileTreeSource Source;
    Source.Icons = &Icons;
    Source.BarPainter = BarPainter.get();
    Source.ChildBarPainter = &ChildBarPainter;
    qv::TVirtualFileTree Grid(Source);
    Grid.resize(1280, 1000);
    Grid.show();

    qv::TQtDispatcher Dispatcher;
    qv::TDirScanThreadList Threads(9, Dispatcher);
    qv::TRootDirNode Root;
    Root.SetPath(Tree);
    Root.SetGroupFileSize(1048576);
    Source.RootNode = &Root;
    Grid.RebuildRows(qv::dvsTree);

    bool Done = false;
    QElapsedTimer ScanClock;
    ScanClock.start();
    double ScanSeconds = 0;
    qv::TDirScanThread* Thread = Threads.StartThread(Root);
    Thread->SetOnTerminate([&](qv::TThread&) {
        ScanSeconds = ScanClock.elapsed() / 1000.0;
        Done = true;
    });
    Thread->Resume();

    std::vector<double> RefreshMs, PaintMs, TickMs, ExpandMs;
    int Visible = 1;
    QElapsedTimer Gap;
    Gap.start();
    int VisibleAtEnd = 0;
    auto Tick = [&] {
        // The user opening rows: not part of a tick.
        QElapsedTimer Clock;
        Clock.start();
        // Breadth first over the rows made so far: folders found closed are opened until
        // enough rows show. Folders appear while the scan goes on, so every tick looks again.
        std::deque<QModelIndex> Queue{Grid.model()->index(0, 0)};
        while (Visible < Target && !Queue.empty()) {
            const QModelIndex Row = Queue.front();
            Queue.pop_front();
            if (!Grid.model()->hasChildren(Row)) {
                continue;
            }
            // The view fetches on its next layout; the walk needs the rows now.
            if (Grid.model()->canFetchMore(Row)) {
                Grid.model()->fetchMore(Row);
            }
            if (!Grid.isExpanded(Row)) {
                Grid.expand(Row);
                Visible += Grid.model()->rowCount(Row);
            }
            for (int i = 0; i < Grid.model()->rowCount(Row); ++i) {
                Queue.push_back(Grid.model()->index(i, 0, Row));
            }
        }
        ExpandMs.push_back(Clock.nsecsElapsed() / 1e6);
        // Opening rows stands for the user's clicks; the stall probe watches the rest.
        Gap.restart();

        Clock.restart();
        if (Reset) {
            Grid.RebuildRows(qv::dvsTree);
        } else {
            Grid.RefreshRows();
        }
        const double Refreshed = Clock.nsecsElapsed() / 1e6;
        Grid.viewport()->repaint();
        const double Painted = Clock.nsecsElapsed() / 1e6;
        RefreshMs.push_back(Refreshed);
        PaintMs.push_back(Painted - Refreshed);
        TickMs.push_back(Painted);
        Visible = VisibleRows(Grid, {});
        VisibleAtEnd = Visible;
    };
    QTimer Ticker;
    QObject::connect(&Ticker, &QTimer::timeout, &Grid, Tick);
    Ticker.start(250);

    // The event loop's longest stall: a 1 ms timer that notes the largest gap.
    double MaxGapMs = 0;
    QTimer Probe;
    QObject::connect(&Probe, &QTimer::timeout, &Grid, [&] {
        MaxGapMs = std::max(MaxGapMs, Gap.nsecsElapsed() / 1e6);
        Gap.restart();
    });
    Probe.start(1);

    while (!Done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    Ticker.stop();
    Probe.stop();
    Tick();
    Dispatcher.Close();

    const qv::TLockWaitStats& Waits = qv::ThisThreadLockWaits;
    std::printf("tree %s  scan %.3f s  files %d  ticks %zu  mode %s\n", Tree.c_str(), ScanSeconds,
                Root.GetFileCount(), TickMs.size(), Reset ? "reset" : "refresh");
    std::printf("visible rows at the end %d (target %d)\n", VisibleAtEnd, Target);
    std::printf("tick ms: median %.2f max %.2f (rows %.2f / %.2f, repaint %.2f / %.2f)\n",
                Median(TickMs), Max(TickMs), Median(RefreshMs), Max(RefreshMs), Median(PaintMs),
                Max(PaintMs));
    std::printf("opening rows ms: median %.2f max %.2f\n", Median(ExpandMs), Max(ExpandMs));
    std::printf("GUI thread lock waits: %llu, total %.3f ms, longest %.3f ms\n",
                static_cast<unsigned long long>(Waits.Waits), Waits.TotalNs / 1e6,
                Waits.MaxNs / 1e6);
    std::printf("longest event loop stall %.2f ms\n", MaxGapMs);
    return 0;
}
