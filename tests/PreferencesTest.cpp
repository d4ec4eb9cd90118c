// The preferences dialog on real settings files, the info panel, and what the main window
// does with both: Apply, OK and Cancel with language and bar style, the notice that a
// change waits for the next scan and its refresh, the language list from the catalogs.

#include "TestTree.h"
#include "app/FormMain.h"
#include "app/InfoPanelFrame.h"
#include "app/QvApplication.h"
#include "app/QvSettingsDlg.h"
#include "settings/BarChartPainterRegistry.h"
#include "settings/QvSettings.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/KtStdCtrls.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TTempDir;

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", Home.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
        ResetAppSettings();
        SetScreenSize(1280, 1024);
        ChangeLanguage("en");
    }
    void TearDown() override {
        ChangeLanguage("en");
        SetCatalogFolders({});
        ResetAppSettings();
    }

    // Runs Execute on Settings and, once the dialog shows, Steps on it.
    static bool Run(TDlgSettings& Dialog, TSettings& Settings,
                    const std::function<void(TDlgSettings&)>& Steps) {
        QTimer::singleShot(0, &Dialog, [&] { Steps(Dialog); });
        return Dialog.Execute(Settings);
    }
    template <class T> static T& Child(QWidget& Parent, const char* Name) {
        T* child = Parent.findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(child, nullptr) << Name;
        return *child;
    }
    static void Choose(QComboBox& Box, const QString& Text) {
        const int index = Box.findText(Text);
        ASSERT_GE(index, 0) << Text.toStdString();
        Box.setCurrentIndex(index);
    }

    TTempDir Home;
    TTempDir Data;
};

TEST_F(PreferencesTest, InfoPanelKeepsOneEntryPerPathAndRefreshesTheOutermost) {
    QWidget window;
    TFrameInfoPanel panel(&window);
    std::vector<std::string> refreshed;
    panel.OnRefreshPath = [&](const std::string& Path) { refreshed.push_back(Path); };
    EXPECT_FALSE(panel.IsPanelVisible());
    panel.Notify("/data/a", QStringLiteral("first"));
    panel.Notify("/data/a", QStringLiteral("second"));
    panel.Notify("/data/A", QStringLiteral("third")); // another folder on Linux
    panel.Notify("/data/a/inner", QStringLiteral("fourth"));
    EXPECT_TRUE(panel.IsPanelVisible());
    EXPECT_EQ(panel.PendingPaths(),
              (std::vector<std::string>{"/data/a", "/data/A", "/data/a/inner"}));
    EXPECT_EQ(panel.findChild<QLabel*>(QStringLiteral("LabelNotify"))->text(), "fourth");
    panel.SetPanelVisible(true); // already shown: nothing changes
    EXPECT_TRUE(panel.IsPanelVisible());

    Child<QAbstractButton>(panel, "ButtonInfoPanelRefresh").click();
    EXPECT_FALSE(panel.IsPanelVisible());
    EXPECT_EQ(refreshed, (std::vector<std::string>{"/data/a", "/data/A"}));
    EXPECT_TRUE(panel.PendingPaths().empty());

    refreshed.clear();
    panel.Notify("/data/b", QStringLiteral("again"));
    Child<QAbstractButton>(panel, "ButtonCloseInfoPanel").click();
    panel.ButtonInfoPanelRefreshClick();
    EXPECT_TRUE(refreshed.empty());
    EXPECT_FALSE(panel.IsPanelVisible());
}

TEST_F(PreferencesTest, FieldsFollowTheSettingsAndTheHandlersChangeOnlyTheCopy) {
    TSettings& settings = AppSettings();
    settings.SetGroupFileSize(1000000); // 0.95367... MB: shown as 0.95
    settings.SetGroupSmallFiles(true);
    settings.SetLanguage("de_AT");
    settings.ClearRescanNeeded();
    TDlgSettings dialog;
    int applied = 0;
    dialog.OnApply = [&](TSettings&) { ++applied; };
    const bool ok = Run(dialog, settings, [&](TDlgSettings& d) {
        TSettings& copy = *d.WorkCopy();
        auto& size = Child<TKtSpinEdit>(d, "EditGroupFileSize");
        EXPECT_EQ(size.Text(), QLocale().toString(0.95));
        // The rounded size is the copy's at once, and a rescan is due for it.
        EXPECT_EQ(copy.GroupFileSize(), 996147);
        EXPECT_TRUE(copy.RescanNeeded());
        EXPECT_EQ(Child<QComboBox>(d, "ComboBoxLanguage").currentText(), "German [de]");

        size.SetAsFloat(0.5);
        EXPECT_EQ(copy.GroupFileSize(), 524288);
        auto& group = Child<QAbstractButton>(d, "CheckBoxGroupFiles");
        group.click();
        EXPECT_FALSE(copy.GroupSmallFiles());
        EXPECT_FALSE(size.isEnabled());
        EXPECT_FALSE(Child<QLabel>(d, "LabelMegaByte").isEnabled());
        Child<QAbstractButton>(d, "CheckBoxDrawChildBar").click();
        Choose(Child<QComboBox>(d, "CmbBoxBarChartPaintStyle"), "Spectrum");
        EXPECT_EQ(copy.BarChartPainterClass(), &TSkinSpectrumClass);
        // Nothing reached the settings themselves.
        EXPECT_TRUE(AppSettings().GroupSmallFiles());
        EXPECT_EQ(AppSettings().GroupFileSize(), 1000000);
        Child<QAbstractButton>(d, "BtnOK").click();
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(applied, 1);
    EXPECT_FALSE(settings.GroupSmallFiles());
    EXPECT_EQ(settings.GroupFileSize(), 524288);
    EXPECT_EQ(settings.BarChartPainterClass(), &TSkinSpectrumClass);
    EXPECT_EQ(settings.Language(), "de_AT"); // the list was not touched
}

TEST_F(PreferencesTest, LanguageListComesFromTheInstalledCatalogs) {
    // Two catalogs made from the German one of the build.
    std::string german;
    for (const std::string& folder : GetCatalogFolders())
        if (std::filesystem::exists(folder + "/de/LC_MESSAGES/default.mo")) {
            german = folder + "/de/LC_MESSAGES/default.mo";
            break;
        }
    ASSERT_FALSE(german.empty());
    TTempDir catalogs;
    for (const std::string code : {"fr", "de"}) {
        std::filesystem::create_directories(catalogs / (code + "/LC_MESSAGES"));
        std::filesystem::copy_file(german, catalogs / (code + "/LC_MESSAGES/default.mo"));
    }
    SetCatalogFolders({catalogs.Path()});
    TDlgSettings dialog;
    Run(dialog, AppSettings(), [&](TDlgSettings& d) {
        auto& list = Child<QComboBox>(d, "ComboBoxLanguage");
        QStringList items;
        for (int i = 0; i < list.count(); ++i)
            items << list.itemText(i);
        EXPECT_EQ(items, (QStringList{"English [en]", "French [fr]", "German [de]"}));
        d.reject();
    });
}

// The window: Apply shows a language and a style at once, Cancel takes both back and leaves
// the settings as they were; a change that waits for the next scan is announced in the
// info panel, whose refresh scans the root again.
TEST_F(PreferencesTest, ApplyThenCancelRestoresAndTheNoticeRescans) {
    Data.File("x/file", 3000);
    TFormMain window({Data.Path()});
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsScanning(); }, 30000));
    const TBarChartPainterClass* style = AppSettings().BarChartPainterClass();
    QAction* config = window.ActConfig;
    ASSERT_TRUE(config->isEnabled());
    const QString englishMenu = window.menuBar()->actions().first()->text();

    QTimer::singleShot(0, &window, [&] {
        auto* d = dynamic_cast<TDlgSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        Choose(Child<QComboBox>(*d, "ComboBoxLanguage"), "German [de]");
        Choose(Child<QComboBox>(*d, "CmbBoxBarChartPaintStyle"), "Black Ice");
        Child<QAbstractButton>(*d, "BtnApply").click();
        QCoreApplication::processEvents();
        EXPECT_EQ(CurrentLanguage(), "de");
        EXPECT_NE(window.menuBar()->actions().first()->text(), englishMenu);
        EXPECT_EQ(Child<QAbstractButton>(*d, "BtnApply").text().toStdString(), Tr("应用"));
        EXPECT_NE(Child<QAbstractButton>(*d, "BtnApply").text(), QStringLiteral("Apply"));
        Child<QAbstractButton>(*d, "BtnCancel").click();
    });
    config->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(window.menuBar()->actions().first()->text(), englishMenu);
    EXPECT_EQ(AppSettings().BarChartPainterClass(), style);
    EXPECT_FALSE(window.InfoPanel().IsPanelVisible());

    // Grouping switched off: the notice, and its refresh scans the root again.
    QTimer::singleShot(0, &window, [&] {
        auto* d = dynamic_cast<TDlgSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        Child<QAbstractButton>(*d, "CheckBoxGroupFiles").click();
        Child<QAbstractButton>(*d, "BtnOK").click();
    });
    config->trigger();
    ASSERT_TRUE(window.InfoPanel().IsPanelVisible());
    EXPECT_EQ(window.InfoPanel().PendingPaths(), std::vector<std::string>{Data.Path()});
    const TRootNode* before = window.RootNode();
    window.InfoPanel().ButtonInfoPanelRefreshClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsScanning(); }, 30000));
    EXPECT_NE(window.RootNode(), before);
    EXPECT_EQ(window.RootNode()->GetFullPath(), Data.Path());
    EXPECT_EQ(window.RootNode()->GroupFileSize(), 0);
}

} // namespace
} // namespace qv
