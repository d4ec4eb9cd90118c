// The folder dialog, driven on a timer; the file manager over a private D-Bus session bus
// with a stand-in FileManager1 service; opening files through a stand-in xdg-open; and
// quitting while xdg-open still runs, in a child process.

#include "TestTree.h"
#include "shell/ShellBrowseForFolder.h"
#include "support/QvLogger.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {
namespace {

using test::TTempDir;

std::string ReadFile(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

bool Exists(const std::string& Path) {
    return ::access(Path.c_str(), F_OK) == 0;
}

void WriteScript(const std::string& Path, const std::string& Body) {
    std::ofstream(Path) << "#!/bin/sh\n" << Body;
    ::chmod(Path.c_str(), 0755);
}

// A dbus-daemon of our own for the whole test program, so that nothing reaches the user's
// desktop and no real file manager answers. It must run before the first use of the session
// bus, which reads DBUS_SESSION_BUS_ADDRESS once.
class TPrivateSessionBus : public testing::Environment {
public:
    static inline QString Address;

    void SetUp() override {
        Dir = std::make_unique<TTempDir>();
        // No service folders: the bus starts nothing on demand.
        const std::string Config = *Dir / "bus.conf";
        std::ofstream(Config) << "<busconfig><type>session</type><listen>unix:dir=" << Dir->Path()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                 "</busconfig>\n";
        Daemon = std::make_unique<QProcess>();
        Daemon->start(
            QStringLiteral("dbus-daemon"),
            {"--config-file=" + QString::fromStdString(Config), "--nofork", "--print-address=1"});
        ASSERT_TRUE(Daemon->waitForStarted(10000))
            << "dbus-daemon (Debian package dbus): " << Daemon->errorString().toStdString();
        while (!Daemon->canReadLine() && Daemon->waitForReadyRead(10000)) {
        }
        Address = QString::fromUtf8(Daemon->readLine().trimmed());
        ASSERT_FALSE(Address.isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", Address.toUtf8());
    }
    void TearDown() override {
        Daemon->terminate();
        Daemon->waitForFinished(5000);
        Daemon.reset();
        Dir.reset();
    }

private:
    std::unique_ptr<TTempDir> Dir;
    std::unique_ptr<QProcess> Daemon;
};
[[maybe_unused]] testing::Environment* const Bus =
    testing::AddGlobalTestEnvironment(new TPrivateSessionBus);

// org.freedesktop.FileManager1 on a connection of its own, so that each call makes a real
// round trip through the daemon. Records the calls; answers each with an error when
// Refusal is set.
class TFileManagerStandIn : public QDBusVirtualObject {
public:
    struct TCall {
        QString Method;
        QStringList Uris;
        QString StartupId;
    };

    explicit TFileManagerStandIn(QString Refusal = {}) : Refusal(std::move(Refusal)) {
        Connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(TPrivateSessionBus::Address, ConnectionName));
        EXPECT_TRUE(Connection->registerVirtualObject(Path, this));
        EXPECT_TRUE(Connection->registerService(Service));
    }
    ~TFileManagerStandIn() override {
        Connection->unregisterService(Service);
        Connection->unregisterObject(Path);
        Connection.reset();
        QDBusConnection::disconnectFromBus(ConnectionName);
    }

    bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Via) override {
        const QList<QVariant> Args = Message.arguments();
        {
            std::lock_guard Guard(Lock);
            Recorded.push_back(
                {Message.member(), Args.value(0).toStringList(), Args.value(1).toString()});
        }
        Via.send(Refusal.isEmpty() ? Message.createReply()
                                   : Message.createErrorReply(QDBusError::AccessDenied, Refusal));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<TCall> Calls() const {
        std::lock_guard Guard(Lock);
        return Recorded;
    }

private:
    static inline const QString ConnectionName = QStringLiteral("qv-file-manager-stand-in");
    static inline const QString Service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString Path = QStringLiteral("/org/freedesktop/FileManager1");
    QString Refusal;
    std::unique_ptr<QDBusConnection> Connection;
    mutable std::mutex Lock;
    std::vector<TCall> Recorded;
};

// Every D-Bus reply has been handled once no watcher is left.
bool RepliesHandled() {
    return QTest::qWaitFor([] { return qApp->findChildren<QDBusPendingCallWatcher*>().isEmpty(); },
                           15000);
}

// Every xdg-open has ended once no process is left: they delete themselves.
bool LaunchersDone() {
    return QTest::qWaitFor([] { return qApp->findChildren<QProcess*>().isEmpty(); }, 15000);
}

class ShellTest : public testing::Test {
protected:
    void SetUp() override {
        OldPath = qgetenv("PATH");
        ::mkdir((Temp / "bin").c_str(), 0755);
        qputenv("PATH", QByteArray::fromStdString(Temp / "bin") + ":/usr/bin:/bin");
    }
    void TearDown() override { qputenv("PATH", OldPath); }

    TShellFailure Record() {
        return [this](const std::string& Message) { Failures.push_back(Message); };
    }
    bool FailureArrives(std::size_t Count = 1) {
        return QTest::qWaitFor([&] { return Failures.size() >= Count; }, 15000);
    }

    TTempDir Temp;
    QByteArray OldPath;
    std::vector<std::string> Failures;
};

// Runs Answer on the folder dialog once it shows.
class TDialogAnswerer {
public:
    explicit TDialogAnswerer(std::function<void(QFileDialog*)> Answer) {
        QObject::connect(&Timer, &QTimer::timeout, &Timer, [this, Answer] {
            if (auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                Timer.stop();
                Answer(Dialog);
            }
        });
        Timer.start(20);
    }

private:
    QTimer Timer;
};

TEST_F(ShellTest, BrowseForFolderReturnsTheChosenFolderOrNothing) {
    Temp.MkDir("start/with blank");
    const std::string Start = Temp / "start";
    QString Title, ShownDir;
    {
        TDialogAnswerer Answerer([&](QFileDialog* Dialog) {
            Title = Dialog->windowTitle();
            ShownDir = Dialog->directory().absolutePath();
            Dialog->reject();
        });
        std::string Dir = "stale";
        EXPECT_FALSE(BrowseForFolder("Choose one", Start, Dir));
        EXPECT_EQ(Dir, "");
    }
    EXPECT_EQ(Title.toStdString(), "Choose one");
    EXPECT_EQ(ShownDir.toStdString(), Start);

    TDialogAnswerer Answerer([&](QFileDialog* Dialog) {
        // As a user would: the name typed into the dialog's name field.
        auto* Name = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!Name) {
            ADD_FAILURE() << "the dialog has no name field";
            Dialog->reject();
            return;
        }
        QTest::keyClicks(Name, QStringLiteral("with blank"));
        // QFileDialog::accept, which checks the choice as the Choose button does.
        static_cast<QDialog*>(Dialog)->accept();
    });
    std::string Dir;
    EXPECT_TRUE(BrowseForFolder("Choose one", Start, Dir));
    EXPECT_EQ(Dir, Temp / "start/with blank");
}

TEST_F(ShellTest, FileManagerReceivesFolderAndItemUris) {
    TFileManagerStandIn FileManager;
    // A blank, a quote and a byte that is not UTF-8 travel percent-encoded.
    const std::string Folder = Temp / "with blank\xff";
    EXPECT_EQ(ExploreFolder(Folder, Record()), 0);
    EXPECT_EQ(ShowItemInFolder(Folder + "/it's.txt", Record()), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileManager.Calls().size() == 2; }, 15000));
    ASSERT_TRUE(RepliesHandled());

    const auto Calls = FileManager.Calls();
    const QString FolderUri = QString::fromStdString("file://" + Temp.Path() + "/with%20blank%FF");
    EXPECT_EQ(Calls[0].Method, "ShowFolders");
    EXPECT_EQ(Calls[0].Uris, QStringList{FolderUri});
    EXPECT_EQ(Calls[0].StartupId, "");
    EXPECT_EQ(Calls[1].Method, "ShowItems");
    EXPECT_EQ(Calls[1].Uris, QStringList{FolderUri + "/it%27s.txt"});
    EXPECT_TRUE(Failures.empty()) << Failures.front();
}

// The fallback hands the folder to QDesktopServices. On the offscreen platform of these
// tests that cannot open documents (Qt runs no xdg-open there), so the user is told, with
// every reason on the way.
TEST_F(ShellTest, WithoutAWillingFileManagerTheFallbackRunsThenTheUserIsTold) {
    std::vector<std::string> Errors;
    const TLogSink OldSink = SetLogSink([&](TLogLevel Level, std::string_view Line) {
        if (Level == llError)
            Errors.emplace_back(Line);
    });
    const std::string Folder = Temp / "folder";
    EXPECT_EQ(ExploreFolder(Folder, Record()), 0);
    ASSERT_TRUE(FailureArrives());
    EXPECT_NE(Failures[0].find("“" + Folder + "”"), std::string::npos) << Failures[0];
    // The bus's own answer: nobody owns the name.
    EXPECT_NE(Failures[0].find("org.freedesktop.FileManager1"), std::string::npos) << Failures[0];
    EXPECT_NE(Failures[0].find("xdg-utils"), std::string::npos) << Failures[0];

    TFileManagerStandIn FileManager("Not today");
    EXPECT_EQ(ShowItemInFolder(Folder + "/item", Record()), 0);
    ASSERT_TRUE(FailureArrives(2));
    EXPECT_EQ(FileManager.Calls().size(), 1u);
    EXPECT_NE(
        Failures[1].find("“" + Folder + "/item” could not be shown in its folder “" + Folder + "”"),
        std::string::npos)
        << Failures[1];
    EXPECT_NE(Failures[1].find("Not today"), std::string::npos) << Failures[1];
    SetLogSink(OldSink);
    EXPECT_EQ(Errors, Failures);
}

TEST_F(ShellTest, ShellOpenFileHandsXdgOpenTheExactPath) {
    const std::string Count = Temp / "count", Arg = Temp / "arg";
    WriteScript(Temp / "bin/xdg-open",
                "printf '%s' \"$1\" > '" + Arg + "'\nprintf '%s' $# > '" + Count + "'\n");
    const QString OldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(Temp.Path())));
    const std::string Cwd = QDir::currentPath().toStdString();
    struct TCase {
        std::string Given, Expected;
    };
    const TCase Cases[] = {
        {Temp / "it's a \"quoted\" name\nending in a line feed\n",
         Temp / "it's a \"quoted\" name\nending in a line feed\n"},
        {Temp / "not UTF-8 \xff\xfe.txt", Temp / "not UTF-8 \xff\xfe.txt"},
        // Relative, and it would pass for an option.
        {"-x.txt", Cwd + "/-x.txt"},
    };
    for (const TCase& Case : Cases) {
        EXPECT_EQ(ShellOpenFile(Case.Given, Record()), 0);
        ASSERT_TRUE(LaunchersDone());
        EXPECT_EQ(ReadFile(Count), "1");
        EXPECT_EQ(ReadFile(Arg), Case.Expected);
    }
    QDir::setCurrent(OldCwd);
    EXPECT_TRUE(Failures.empty());
}

TEST_F(ShellTest, ShellOpenFileReportsXdgOpenFailures) {
    const std::string File = Temp / "gone.txt";
    WriteScript(Temp / "bin/xdg-open",
                "echo \"  xdg-open: file '$1' does not exist  \" >&2\nexit 2\n");
    EXPECT_EQ(ShellOpenFile(File, Record()), 0);
    ASSERT_TRUE(FailureArrives());
    const std::string Expected = "The file “" + File +
                                 "” could not be opened. The file does not exist. xdg-open "
                                 "said: xdg-open: file '" +
                                 File + "' does not exist";
    EXPECT_EQ(Failures[0], Expected);

    // No xdg-open anywhere: told at once, by an error box unless a handler is given.
    qputenv("PATH", QByteArray::fromStdString(Temp / "empty"));
    EXPECT_NE(ShellOpenFile(File, Record()), 0);
    ASSERT_EQ(Failures.size(), 2u);
    EXPECT_NE(Failures[1].find("xdg-utils"), std::string::npos) << Failures[1];
    QString BoxText;
    QTimer Answer;
    QObject::connect(&Answer, &QTimer::timeout, &Answer, [&] {
        if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            BoxText = Box->text();
            Box->accept();
        }
    });
    Answer.start(20);
    EXPECT_NE(ShellOpenFile(File), 0);
    EXPECT_EQ(BoxText.toStdString(), Failures[1]);
}

// The child of the next test: opens a file with a stand-in xdg-open that keeps running, as
// xdg-open does while it runs a program in the foreground, then quits.
TEST(ShellQuitChild, DISABLED_OpenThenQuit) {
    const char* Dir = std::getenv("QV_SHELL_QUIT_DIR");
    ASSERT_TRUE(Dir);
    EXPECT_EQ(ShellOpenFile(std::string(Dir) + "/file.txt",
                            [](const std::string& Message) { ADD_FAILURE() << Message; }),
              0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(std::string(Dir) + "/program.pid"); }, 15000));
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

TEST_F(ShellTest, QuittingWhileXdgOpenRunsLeavesTheOpenedProgramAlone) {
    const std::string Pid = Temp / "program.pid";
    WriteScript(Temp / "bin/xdg-open", "sleep 60 &\necho $! > '" + Pid + ".new'\nmv '" + Pid +
                                           ".new' '" + Pid + "'\nwait\n");
    QProcess Child;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QV_SHELL_QUIT_DIR", QString::fromStdString(Temp.Path()));
    Child.setProcessEnvironment(Env);
    Child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=ShellQuitChild.*"});
    ASSERT_TRUE(Child.waitForFinished(60000));
    const QString Output = Child.readAllStandardOutput() + Child.readAllStandardError();
    EXPECT_EQ(Child.exitStatus(), QProcess::NormalExit) << Output.toStdString();
    EXPECT_EQ(Child.exitCode(), 0) << Output.toStdString();
    EXPECT_FALSE(Output.contains("QProcess: Destroyed")) << Output.toStdString();
    const int Program = std::atoi(ReadFile(Pid).c_str());
    ASSERT_GT(Program, 0);
    EXPECT_EQ(::kill(Program, 0), 0) << "the opened program was ended with xdg-open";
    ::kill(Program, SIGKILL);
}

} // namespace
} // namespace qv
