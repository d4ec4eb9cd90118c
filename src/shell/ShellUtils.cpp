#include "shell/ShellUtils.h"

#include "app/MessageBoxes.h"
#include "platform/SysError.h"
#include "shell/Trash.h"
#include "support/QvLogger.h"
#include "support/QvUtils.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace qv {

int DeleteProgressDelayMs = 500;

namespace {

// Items listed by name in a question; the rest are counted.
constexpr std::size_t ListedItems = 12;

std::string ItemLine(const TDeleteItem& Item) {
    return Item.Path + "  (" + FormatSizeRoundDown(Item.Size) + ")";
}

std::int64_t TotalSize(const std::vector<TDeleteItem>& Items) {
    std::int64_t Total = 0;
    for (const TDeleteItem& Item : Items) {
        Total += Item.Size;
    }
    return Total;
}

bool Confirm(const std::vector<TDeleteItem>& Items, bool AllowUndo) {
    const std::string Size = FormatSizeRoundDown(TotalSize(Items));
    if (AllowUndo) {
        // It can be undone from the trash: Yes is the default.
        return ConfirmYesNo(
            Items.size() == 1
                ? FormatText(Tr("Move “%s” (%s) to the trash?"), {Items[0].Path, Size})
                : FormatText(Tr("Move %s items (%s) to the trash?"),
                             {FormatCount(std::int32_t(Items.size())), Size}));
    }
    std::vector<std::string> Lines;
    for (const TDeleteItem& Item : Items) {
        Lines.push_back(ItemLine(Item));
    }
    const std::string Question =
        Items.size() == 1
            ? FormatText(Tr("Delete “%s” (%s) permanently? It cannot be restored."),
                         {Items[0].Path, Size})
            : FormatText(Tr("Delete %s items (%s) permanently? They cannot be restored."),
                         {FormatCount(std::int32_t(Items.size())), Size}) +
                  "\n\n" + ListOfLines(Lines);
    return WarnYesNo(Question);
}

// Progress as the worker last reported it; read by the GUI thread.
struct TSharedProgress {
    std::mutex Lock;
    TDeleteProgress Now;
    void Set(std::int64_t Items, std::int64_t Bytes, const std::string& Path) {
        std::lock_guard Guard(Lock);
        Now.Items = Items;
        Now.Bytes = Bytes;
        Now.CurrentPath = Path;
    }
    TDeleteProgress Get() {
        std::lock_guard Guard(Lock);
        return Now;
    }
};

class TDeleteProgressDialog final : public QDialog {
public:
    TDeleteProgressDialog(bool ToTrash, std::int64_t TotalItems, std::int64_t TotalBytes,
                          QWidget* Parent)
        : QDialog(Parent), ToTrash(ToTrash), TotalItems(TotalItems), TotalBytes(TotalBytes) {
        setObjectName(DeleteProgressName);
        setWindowModality(Qt::ApplicationModal);
        auto* Layout = new QVBoxLayout(this);
        for (QLabel** Label : {&Counts, &Current}) {
            *Label = new QLabel(this);
            (*Label)->setTextInteractionFlags(Qt::TextSelectableByMouse);
            Layout->addWidget(*Label);
        }
        Counts->setObjectName("DeleteCounts");
        Current->setObjectName("DeleteCurrent");
        Current->setMinimumWidth(420);
        Bar = new QProgressBar(this);
        Bar->setRange(0, 1000);
        Layout->addWidget(Bar);
        Buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
        Layout->addWidget(Buttons);
        connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        Retranslate();
    }
    void Retranslate() {
        setWindowTitle(ToTrash ? TrQ("Moving to the Trash") : TrQ("Deleting"));
        Bar->setAccessibleName(TrQ("Progress"));
        Buttons->button(QDialogButtonBox::Cancel)->setText(TrQ("Cancel"));
    }
    void Show(const TDeleteProgress& Now) {
        Counts->setText(ToQ(
            FormatText(Tr("%s of %s items, %s of %s"),
                       {FormatCount(std::int32_t(Now.Items)), FormatCount(std::int32_t(TotalItems)),
                        FormatSizeRoundDown(Now.Bytes), FormatSizeRoundDown(TotalBytes)})));
        Counts->setAccessibleName(Counts->text());
        Current->setText(Current->fontMetrics().elidedText(PathText(Now.CurrentPath),
                                                           Qt::ElideMiddle, Current->width()));
        Current->setAccessibleName(PathText(Now.CurrentPath));
        const double Share =
            TotalBytes > 0 ? double(Now.Bytes) / double(TotalBytes)
                           : double(Now.Items) / double(std::max<std::int64_t>(1, TotalItems));
        Bar->setValue(int(std::min(1.0, Share) * 1000));
    }

private:
    bool ToTrash;
    std::int64_t TotalItems;
    std::int64_t TotalBytes;
    QLabel* Counts = nullptr;
    QLabel* Current = nullptr;
    QProgressBar* Bar = nullptr;
    QDialogButtonBox* Buttons = nullptr;
};

// Runs Work on a worker thread and keeps the GUI painting until it returns: no user input
// for the first half second, then a modal progress dialog whose Cancel calls OnCancel.
void RunWithProgress(const std::function<void()>& Work, TSharedProgress& Progress, bool ToTrash,
                     std::int64_t TotalItems, std::int64_t TotalBytes, QWidget* Owner,
                     const std::function<void()>& OnCancel) {
    std::atomic<bool> Done{false};
    std::thread Worker([&] {
        try {
            Work();
        } catch (const std::exception& E) {
            LogError(std::string("delete: ") + E.what());
        }
        Done.store(true, std::memory_order_release);
    });
    QEventLoop Loop;
    QTimer Poll;
    Poll.setInterval(25);
    QElapsedTimer Clock;
    Clock.start();
    TDeleteProgressDialog Dialog(ToTrash, TotalItems, TotalBytes, Owner);
    QObject::connect(&Dialog, &QDialog::rejected, &Dialog, [&] { OnCancel(); });
    QObject::connect(&Poll, &QTimer::timeout, &Loop, [&] {
        if (Done.load(std::memory_order_acquire)) {
            Loop.quit();
        } else if (Dialog.isVisible()) {
            Dialog.Show(Progress.Get());
        } else if (Clock.elapsed() >= DeleteProgressDelayMs) {
            Loop.quit();
        }
    });
    Poll.start();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // A key or click during the first moment waits until the work is done (it is not lost).
    Loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!Done.load(std::memory_order_acquire)) {
        Dialog.Show(Progress.Get());
        Dialog.show();
        Loop.exec();
    }
    QApplication::restoreOverrideCursor();
    Worker.join();
}

bool KindMatches(const std::string& Path, bool IsDirectory, int& Error) {
    struct stat St {};
    if (::lstat(Path.c_str(), &St) != 0) {
        Error = errno;
        return false;
    }
    if (S_ISDIR(St.st_mode) != IsDirectory) {
        Error = IsDirectory ? ENOTDIR : EISDIR;
        return false;
    }
    return true;
}

void DeletePermanently(const std::vector<TDeleteItem>& Items, const std::vector<std::size_t>& Which,
                       QWidget* Owner, TDeleteReport& Report) {
    TTreeDeleter Deleter;
    TSharedProgress Progress;
    std::vector<TDeleteItem> Chosen;
    for (std::size_t i : Which) {
        Chosen.push_back(Items[i]);
    }
    Deleter.OnProgress = [&](const TDeleteProgress& Now) {
        Progress.Set(Now.Items, Now.Bytes, Now.CurrentPath);
    };
    RunWithProgress(
        [&] {
            for (std::size_t i : Which) {
                if (Deleter.IsCancelled()) {
                    break;
                }
                LogInfo("delete " + Items[i].Path);
                if (Deleter.Delete(Items[i].Path, Items[i].IsDirectory)) {
                    Report.Gone[i] = true;
                }
            }
        },
        Progress, false, std::int64_t(Chosen.size()), TotalSize(Chosen), Owner,
        [&] { Deleter.Cancel(); });
    Report.Cancelled = Report.Cancelled || Deleter.IsCancelled();
    for (const TDeleteFailure& F : Deleter.Failures()) {
        // Gone already (deleted from elsewhere): what the user wanted.
        const auto Item = std::find_if(Which.begin(), Which.end(),
                                       [&](std::size_t i) { return Items[i].Path == F.Path; });
        if (F.Error == ENOENT && Item != Which.end()) {
            Report.Gone[*Item] = true;
            continue;
        }
        LogError("delete failed: " + F.Path + ": " + F.Message);
        Report.Failures.push_back(F);
    }
}

void MoveItemsToTrash(const std::vector<TDeleteItem>& Items, QWidget* Owner, TDeleteReport& Report,
                      std::vector<std::size_t>& NoTrash) {
    TSharedProgress Progress;
    std::atomic<bool> Cancel{false};
    RunWithProgress(
        [&] {
            std::int64_t Done = 0, Bytes = 0;
            for (std::size_t i = 0; i < Items.size(); ++i) {
                if (Cancel.load(std::memory_order_relaxed)) {
                    break;
                }
                const TDeleteItem& Item = Items[i];
                Progress.Set(Done, Bytes, Item.Path);
                int Error = 0;
                TTrashResult Result;
                if (!KindMatches(Item.Path, Item.IsDirectory, Error)) {
                    Result.Error = Error;
                    Result.Message = SysErrorMessage(Error);
                } else {
                    LogInfo("trash " + Item.Path);
                    Result = MoveToTrash(Item.Path);
                }
                // The GUI thread reads the report only after the worker is joined.
                if (Result.Moved) {
                    Report.Gone[i] = true;
                } else if (Result.Error == ENOENT) {
                    Report.Gone[i] = true;
                } else if (Result.Error == EROFS || Result.Error == EACCES ||
                           Result.Error == EPERM || Result.Error == EXDEV) {
                    NoTrash.push_back(i);
                    Report.NotTrashable.push_back({Item.Path, Result.Error, Result.Message});
                } else {
                    LogError("trash failed: " + Item.Path + ": " + Result.Message);
                    Report.Failures.push_back({Item.Path, Result.Error, Result.Message});
                }
                ++Done;
                Bytes += Item.Size;
                Progress.Set(Done, Bytes, Item.Path);
            }
        },
        Progress, true, std::int64_t(Items.size()), TotalSize(Items), Owner,
        [&] { Cancel.store(true, std::memory_order_relaxed); });
    Report.Cancelled = Cancel.load();
}

} // namespace

std::string ListOfLines(const std::vector<std::string>& Lines) {
    std::string Text;
    for (std::size_t i = 0; i < Lines.size() && i < ListedItems; ++i) {
        Text += Lines[i] + "\n";
    }
    if (Lines.size() > ListedItems) {
        Text +=
            FormatText(Tr("… and %s more"), FormatCount(std::int32_t(Lines.size() - ListedItems))) +
            "\n";
    }
    return Text;
}

bool ShellDeleteFiles(const std::vector<TDeleteItem>& Items, bool AllowUndo, QWidget* OwnerWindow,
                      TDeleteReport& Report, const std::function<void()>& BeforeDelete) {
    Report = TDeleteReport{};
    Report.Gone.assign(Items.size(), false);
    if (Items.empty()) {
        return false;
    }
    Report.Confirmed = Confirm(Items, AllowUndo);
    if (!Report.Confirmed) {
        return false;
    }
    if (BeforeDelete) {
        BeforeDelete();
    }
    if (AllowUndo) {
        std::vector<std::size_t> NoTrash;
        MoveItemsToTrash(Items, OwnerWindow, Report, NoTrash);
        if (!NoTrash.empty() && !Report.Cancelled) {
            std::vector<std::string> Lines;
            for (const TDeleteFailure& F : Report.NotTrashable) {
                Lines.push_back(F.Path + ": " + F.Message);
            }
            // Never permanently without this answer.
            if (WarnYesNo(Tr("These items cannot be moved to the trash:") + "\n\n" +
                          ListOfLines(Lines) + "\n" +
                          Tr("Delete them permanently? They cannot be restored."))) {
                DeletePermanently(Items, NoTrash, OwnerWindow, Report);
            }
        }
    } else {
        std::vector<std::size_t> All(Items.size());
        for (std::size_t i = 0; i < All.size(); ++i) {
            All[i] = i;
        }
        DeletePermanently(Items, All, OwnerWindow, Report);
    }
    const bool AllGone =
        std::all_of(Report.Gone.begin(), Report.Gone.end(), [](bool b) { return b; });
    return AllGone && Report.Failures.empty() && !Report.Cancelled;
}

bool IsSystemFile(const std::string& Path) {
    struct stat St {};
    if (::lstat(Path.c_str(), &St) != 0) {
        return false;
    }
    return S_ISCHR(St.st_mode) || S_ISBLK(St.st_mode) || S_ISFIFO(St.st_mode) ||
           S_ISSOCK(St.st_mode);
}

} // namespace qv
