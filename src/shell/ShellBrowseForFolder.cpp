#include "shell/ShellBrowseForFolder.h"

#include "app/MessageBoxes.h"
#include "support/QvLogger.h"
#include "support/QvUtils.h"
#include "support/Translate.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>
#include <filesystem>
#include <system_error>
#include <utility>

namespace qv {

namespace {

// Long enough for a file manager that D-Bus starts on demand; after that the desktop is
// asked instead (a file manager that answers even later may then show the folder twice).
constexpr int FileManagerTimeoutMs = 10000;

// xdg-open hands the file on and exits within moments, unless it runs the program itself
// in the foreground (its generic mode); its exit status is then the program's and means
// nothing to us.
constexpr qint64 LauncherVerdictMs = 10000;

// More of xdg-open's complaint than this is not worth a message box.
constexpr qint64 LauncherMessageLimit = 2048;

// Marks our xdg-open processes among the application object's children.
const char* const LauncherName = "qv-xdg-open";

// A path as the user reads it (and as the UTF-8 log takes it), decoded as the file
// system's names are.
std::string Shown(const std::string& Path) {
    return QFile::decodeName(QByteArray::fromStdString(Path)).toStdString();
}

// Path made absolute against the working directory, byte for byte: nothing is resolved or
// normalised. That also keeps a name such as "-x" from passing for an option.
std::string Absolute(const std::string& Path) {
    std::error_code Error;
    std::filesystem::path Result = std::filesystem::absolute(Path, Error);
    return Error ? Path : Result.string();
}

// The folder holding Path ("/" for an item of the root).
std::string ParentFolder(std::string Path) {
    while (Path.size() > 1 && Path.back() == '/') {
        Path.pop_back();
    }
    const auto Slash = Path.rfind('/');
    if (Slash == std::string::npos) {
        return ".";
    }
    return Slash == 0 ? std::string("/") : Path.substr(0, Slash);
}

// The file URI of an absolute path. Built from the bytes rather than through QString,
// which cannot carry a name that is not valid UTF-8.
QByteArray FileUri(const std::string& Path) {
    return "file://" + QByteArray::fromStdString(Path).toPercentEncoding("/");
}

void Report(const std::string& Message, const TShellFailure& OnFailure) {
    LogError(Message);
    if (OnFailure) {
        OnFailure(Message);
    } else {
        ShowError(Message);
    }
}

// Hands the folder to the desktop's URL handler, the last resort when no file manager
// answers on D-Bus. Failed names the request, Reason what went wrong before.
int OpenFolderUrl(const std::string& Folder, const std::string& Failed, const std::string& Reason,
                  const TShellFailure& OnFailure) {
    LogDebug("No file manager took " + Shown(Folder) + " (" + Reason +
             "); handing it to the desktop");
    if (QDesktopServices::openUrl(QUrl::fromEncoded(FileUri(Folder), QUrl::StrictMode))) {
        LogDebug("The desktop opens " + Shown(Folder));
        return 0;
    }
    Report(Failed + " " + Reason + " " +
               Tr("No program to open folders was found: xdg-open (package xdg-utils) is "
                  "missing or does not work here."),
           OnFailure);
    return 1;
}

using TFallback = std::function<int(const std::string& Reason)>;

// Asks the file manager to run Method (ShowFolders or ShowItems) on Path. The call goes
// out asynchronously; Fallback gets the reason when there is no bus, or later when the call
// fails. Returns what Fallback returned when it ran at once, else 0.
int AskFileManager(const QString& Method, const std::string& Path, TFallback Fallback) {
    LogDebug("Asking the file manager to " + Method.toStdString() + " " + Shown(Path));
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) {
        const QString Why = Bus.lastError().message();
        return Fallback(Why.isEmpty() ? Tr("There is no D-Bus session bus.")
                                      : FormatText(Tr("There is no D-Bus session bus (%s)."),
                                                   Why.toStdString()));
    }
    QDBusMessage Call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1"), Method);
    // No startup id: we have no startup notification of our own to hand on.
    Call << QStringList{QString::fromLatin1(FileUri(Path))} << QString();
    // Parented to the application object: a reply that arrives after it is gone is dropped
    // with the watcher instead of reaching a handler whose world has been torn down.
    auto* Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Call, FileManagerTimeoutMs), qApp);
    QObject::connect(
        Watcher, &QDBusPendingCallWatcher::finished, Watcher,
        [Path, Fallback = std::move(Fallback)](QDBusPendingCallWatcher* Done) {
            Done->deleteLater();
            const QDBusPendingReply<> Reply = *Done;
            if (!Reply.isError()) {
                LogDebug("The file manager shows " + Shown(Path));
                return;
            }
            const QDBusError Error = Reply.error();
            const QString Why = Error.message().isEmpty() ? Error.name() : Error.message();
            Fallback(FormatText(Tr("The file manager did not take the request over D-Bus (%s)."),
                                Why.toStdString()));
        });
    return 0;
}

// Deletes the xdg-open processes still running while the application object is destroyed,
// before its event dispatcher goes, which their notifiers still need. See ShellOpenFile.
void EndLaunchers() {
    if (!qApp) {
        return;
    }
    const auto Running =
        qApp->findChildren<QProcess*>(QLatin1String(LauncherName), Qt::FindDirectChildrenOnly);
    for (QProcess* Process : Running) {
        Process->disconnect();
        Process->kill();
        Process->waitForFinished(1000);
        delete Process;
    }
}

std::string LauncherReason(int ExitCode, QProcess::ExitStatus Status) {
    if (Status != QProcess::NormalExit) {
        return Tr("xdg-open ended abnormally.");
    }
    switch (ExitCode) {
    case 1:
        return Tr("xdg-open did not understand the request.");
    case 2:
        return Tr("The file does not exist.");
    case 3:
        return Tr("A program that xdg-open needs is missing.");
    case 4:
        return Tr("The program for this kind of file could not open it.");
    case 126:
    case 127:
        // The shell in front of xdg-open could not run it.
        return Tr("xdg-open could not be started.");
    default:
        return FormatText(Tr("xdg-open ended with exit code %s."), std::to_string(ExitCode));
    }
}

// What xdg-open wrote to standard error, trimmed.
std::string LauncherMessage(QTemporaryFile* Errors) {
    if (!Errors || !Errors->seek(0)) {
        return {};
    }
    return QString::fromLocal8Bit(Errors->read(LauncherMessageLimit)).trimmed().toStdString();
}

} // namespace

bool BrowseForFolder(const std::string& Title, const std::string& InitialDir, std::string& Dir,
                     QWidget* Owner) {
    LogDebug("Choosing a folder, starting in " + Shown(InitialDir));
    Dir.clear();
    QFileDialog Dialog(Owner, QString::fromStdString(Title),
                       QFile::decodeName(QByteArray::fromStdString(InitialDir)));
    Dialog.setFileMode(QFileDialog::Directory);
    Dialog.setOption(QFileDialog::ShowDirsOnly);
    Dialog.setSupportedSchemes({QStringLiteral("file")});
    if (Dialog.exec() != QDialog::Accepted) {
        LogDebug("No folder chosen");
        return false;
    }
    // A desktop's own dialog may still offer locations of its virtual file systems.
    const QUrl Chosen = Dialog.selectedUrls().value(0);
    if (!Chosen.isLocalFile() || Chosen.toLocalFile().isEmpty()) {
        const std::string Message = Tr("您选择的文件夹无效或无法获取文件系统路径。");
        LogError(Message + " (" + Chosen.toString().toStdString() + ")");
        throw BrowseForFolderException(Message);
    }
    Dir = QFile::encodeName(Chosen.toLocalFile()).toStdString();
    LogDebug("Folder chosen: " + Shown(Dir));
    return true;
}

int ExploreFolder(const std::string& Path, TShellFailure OnFailure) {
    const std::string Folder = Absolute(Path);
    return AskFileManager(
        QStringLiteral("ShowFolders"), Folder,
        [Folder, OnFailure = std::move(OnFailure)](const std::string& Reason) {
            return OpenFolderUrl(
                Folder, FormatText(Tr("The folder “%s” could not be opened."), Shown(Folder)),
                Reason, OnFailure);
        });
}

int ShowItemInFolder(const std::string& Path, TShellFailure OnFailure) {
    const std::string Item = Absolute(Path);
    return AskFileManager(QStringLiteral("ShowItems"), Item,
                          [Item, OnFailure = std::move(OnFailure)](const std::string& Reason) {
                              const std::string Folder = ParentFolder(Item);
                              return OpenFolderUrl(
                                  Folder,
                                  FormatText(Tr("“%s” could not be shown in its folder “%s”."),
                                             {Shown(Item), Shown(Folder)}),
                                  Reason, OnFailure);
                          });
}

int ShellOpenFile(const std::string& Path, TShellFailure OnFailure) {
    const std::string File = Absolute(Path);
    const std::string Failed = FormatText(Tr("The file “%s” could not be opened."), Shown(File));
    const QString Launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    LogDebug("Opening " + Shown(File) + " with " +
             (Launcher.isEmpty() ? std::string("xdg-open") : Launcher.toStdString()));
    if (Launcher.isEmpty()) {
        Report(Failed + " " +
                   Tr("No program to open files was found: xdg-open is missing. Install the "
                      "package xdg-utils."),
               OnFailure);
        return 1;
    }

    // The process belongs to the application object, so none outlives it; a finished one
    // deletes itself. One still running at the end is nearly always xdg-open waiting for the
    // program it started in the foreground: EndLaunchers kills xdg-open alone, which leaves
    // that program (its child) running. Nothing of ours stays attached to the program:
    // standard input is a pipe we have closed, standard output goes nowhere and standard
    // error to a file, never to a pipe whose reader could vanish (the program would die of
    // SIGPIPE at its next message, after xdg-open has finished or after we have quit).
    static QPointer<QCoreApplication> EndLaunchersFor;
    if (EndLaunchersFor != qApp) {
        qAddPostRoutine(EndLaunchers);
        EndLaunchersFor = qApp;
    }
    auto* Process = new QProcess(qApp);
    Process->setObjectName(QLatin1String(LauncherName));
    Process->setStandardOutputFile(QProcess::nullDevice());
    auto* Errors = new QTemporaryFile(Process);
    if (Errors->open()) {
        Process->setStandardErrorFile(Errors->fileName());
    } else {
        delete Errors;
        Errors = nullptr;
        Process->setStandardErrorFile(QProcess::nullDevice());
    }

    // QProcess passes its arguments as UTF-8 text, which cannot carry a name that is not
    // valid UTF-8. The path travels on standard input instead, byte for byte, and a shell
    // hands it to xdg-open as its one argument (the "." keeps trailing line feeds, which
    // command substitution would drop) and gives way to it.
    Process->start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral(R"(p=$(cat; echo .); exec "$0" "${p%.}")"),
                    Launcher});
    if (Process->state() == QProcess::NotRunning) {
        Report(Failed + " " +
                   FormatText(Tr("xdg-open could not be started: %s"),
                              Process->errorString().toStdString()),
               OnFailure);
        delete Process;
        return 1;
    }
    Process->write(QByteArray::fromStdString(File));
    Process->closeWriteChannel();

    QElapsedTimer Started;
    Started.start();
    // A start that fails later (the shell could not be run) ends here without finished().
    QObject::connect(Process, &QProcess::errorOccurred, Process,
                     [Process, Failed, OnFailure](QProcess::ProcessError Error) {
                         if (Error != QProcess::FailedToStart) {
                             return;
                         }
                         Process->deleteLater();
                         Report(Failed + " " +
                                    FormatText(Tr("xdg-open could not be started: %s"),
                                               Process->errorString().toStdString()),
                                OnFailure);
                     });
    QObject::connect(Process, &QProcess::finished, Process,
                     [Process, Errors, Started, File, Failed,
                      OnFailure](int ExitCode, QProcess::ExitStatus Status) {
                         Process->deleteLater();
                         if (Started.elapsed() > LauncherVerdictMs) {
                             LogDebug("xdg-open for " + Shown(File) +
                                      " ended after the program it ran");
                             return;
                         }
                         if (Status == QProcess::NormalExit && ExitCode == 0) {
                             LogDebug("xdg-open opened " + Shown(File));
                             return;
                         }
                         std::string Message = Failed + " " + LauncherReason(ExitCode, Status);
                         if (const std::string Said = LauncherMessage(Errors); !Said.empty()) {
                             Message += " " + FormatText(Tr("xdg-open said: %s"), Said);
                         }
                         Report(Message, OnFailure);
                     });
    return 0;
}

} // namespace qv
