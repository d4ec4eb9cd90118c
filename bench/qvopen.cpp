// qvopen: how long the GUI thread stalls when the user opens a huge folder. Makes (once) a
// folder of FILES files with assorted extensions and sparse sizes, scans it, and then, in
// the grid on the offscreen platform, opens
//   folder  - the folder's row (its files are listed),
//   grouped - its "Grouped Files" row (all files are small),
//   icons   - the folder's row in a viewport about 1000 rows high, so one paint asks for
//             about 1000 file icons,
// each ROUNDS times. A 1 ms timer notes the longest gap of the event loop from the click
// until the rows are there and painted; the time until then is printed too.
//
//   qvopen [FILES] [ROUNDS]        (folder under $QV_BENCH_DIR, default /tmp/qvbench)

#include "app/QtDispatcher.h"
#include "scan/DirScan.h"
#include "shell/ShellTypes.h"
#include "tree/TreeTypes.h"
#include "view/FileIcons.h"
#include "view/QvBarChartPainter.h"
#include "view/VirtualFileTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Times the grid's paint events.
class TPaintTimer final : public QObject {
public:
    std::vector<double> Ms;
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() != QEvent::Paint)
            return false;
        QElapsedTimer Clock;
        Clock.start();
        static_cast<QWidget*>(Watched)->removeEventFilter(this);
        QCoreApplication::sendEvent(Watched, Event);
        Watched->installEventFilter(this);
        Ms.push_back(Clock.nsecsElapsed() / 1e6);
        return true;
    }
};

const char* const Extensions[] = {".txt", ".jpg", ".png", ".pdf", ".mp3", ".cpp",
                                  ".h",   ".zip", ".tar", ".gz",  "",     ".odt"};

// FILES sparse files in Dir/big; made once and reused (the name records the count).
std::string MakeFolder(const std::string& Base, int Files) {
    const std::string Top = Base + "/open" + std::to_string(Files);
    const std::string Big = Top + "/big";
    if (std::filesystem::exists(Top + "/.done"))
        return Top;
    std::filesystem::remove_all(Top);
    std::filesystem::create_directories(Big);
    std::mt19937 Random(42);
    for (int i = 0; i < Files; ++i) {
        const std::string Name =
            Big + "/file" + std::to_string(i) + Extensions[std::size_t(i) % std::size(Extensions)];
        const int Fd = ::open(Name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (Fd < 0 || ::ftruncate(Fd, off_t(Random() % (64u << 20))) != 0) {
            std::perror(Name.c_str());
            std::exit(1);
        }
        ::close(Fd);
    }
    ::close(::open((Top + "/.done").c_str(), O_CREAT | O_WRONLY, 0644));
    return Top;
}

struct TResult {
    double MaxStallMs = 0;
    double DoneMs = 0;
};

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values.empty() ? 0 : Values[Values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int Files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int Rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const char* BaseEnv = std::getenv("QV_BENCH_DIR");
    const std::string Top = MakeFolder(BaseEnv && *BaseEnv ? BaseEnv : "/tmp/qvbench", Files);

    QApplication App(argc, argv);
    qv::TQtDispatcher Dispatcher;
    qv::TFileIconTable Icons;
    qv::TSHGetFileInfoPropertiesList Pending;
    auto BarPainter = qv::CreatePainter(nullptr);
    qv::TFileTreeSource Source;
    Source.Icons = &Icons;
    Source.BarPainter = BarPainter.get();
    qv::TVirtualFileTree Grid(Source);
    qv::TShellFileIconThread IconThread(Dispatcher, Icons, [&](int Index, std::int32_t Id) {
        Pending.SetResult(Id, Index);
        Grid.viewport()->update();
    });
    Source.IconThread = &IconThread;
    Source.IconRequests = &Pending;
    IconThread.Resume();
    Grid.show();

    auto Run = [&](const char* Mode, bool Grouped, int Height) {
        std::vector<double> Stalls, Done, Repaints;
        for (int Round = 0; Round < Rounds; ++Round) {
            Source.RootNode = nullptr;
            Grid.RebuildRows(qv::dvsTree);
            Pending.Clear();
            qv::TRootDirNode Root;
            Root.SetPath(Top);
            const std::int64_t GroupSize = Grouped ? (std::int64_t(1) << 40) : 0;
            Root.SetGroupFileSize(GroupSize);
            qv::TDirScanner(Root).Scan(Top, GroupSize);
            Grid.resize(1280, Height);
            Source.RootNode = &Root;
            Grid.RebuildRows(qv::dvsTree);
            QCoreApplication::processEvents();

            QModelIndex Row = Grid.Model().IndexOf(Root.GetChild(0));
            if (Grouped) {
                Grid.expand(Row);
                while (Grid.model()->rowCount(Row) == 0)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                Row = Grid.model()->index(0, 0, Row);
            }
            QCoreApplication::processEvents();

            QElapsedTimer Clock, Gap;
            double MaxGap = 0;
            QTimer Probe;
            QObject::connect(&Probe, &QTimer::timeout, &Grid, [&] {
                MaxGap = std::max(MaxGap, Gap.nsecsElapsed() / 1e6);
                Gap.restart();
            });
            TPaintTimer Paints;
            if (std::getenv("QV_PAINTS"))
                Grid.viewport()->installEventFilter(&Paints);
            Probe.start(1);
            Clock.start();
            Gap.start();
            // The click, as the view gets it: expand, then the view fetches on its layout.
            QTimer::singleShot(0, &Grid, [&] { Grid.expand(Row); });
            while ((Grid.model()->rowCount(Row) < Files || Pending.Count() > 0) &&
                   Clock.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            // The rows' first paint, and a few more loop turns for what follows it.
            for (int i = 0; i < 20; ++i)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const double DoneMs = Clock.nsecsElapsed() / 1e6;
            MaxGap = std::max(MaxGap, Gap.nsecsElapsed() / 1e6);
            Probe.stop();
            Grid.viewport()->removeEventFilter(&Paints);
            for (double Ms : Paints.Ms)
                std::fprintf(stderr, "paint %.1f\n", Ms);
            Stalls.push_back(MaxGap);
            Done.push_back(DoneMs);
            // A repaint of the same rows, every icon known by now.
            Clock.restart();
            Grid.viewport()->repaint();
            Repaints.push_back(Clock.nsecsElapsed() / 1e6);
            Source.RootNode = nullptr;
            Grid.RebuildRows(qv::dvsTree);
        }
        std::printf("%-8s files %d  longest stall ms: median %.1f max %.1f  rows shown after ms: "
                    "median %.0f  a repaint of the rows ms: median %.1f\n",
                    Mode, Files, Median(Stalls), *std::max_element(Stalls.begin(), Stalls.end()),
                    Median(Done), Median(Repaints));
    };
    Run("folder", false, 800);
    Run("grouped", true, 800);
    Run("icons", false, 1000 * 22);
    IconThread.Stop();
    Dispatcher.Close();
    return 0;
}
