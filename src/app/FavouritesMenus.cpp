#include "app/FavouritesMenus.h"

#include "app/MessageBoxes.h"
#include "shell/MRUDirList.h"
#include "support/QvUtils.h"
#include "view/QtText.h"

#include <QMenu>

namespace qv {

namespace {

QIcon IconFor(const TFavouritesMenuSource& Source, const std::string& Path) {
    QIcon Icon = Source.IconOf ? Source.IconOf(Path) : QIcon();
    return Icon.isNull() ? Source.FolderIcon : Icon;
}

void AddEntry(QMenu& Menu, const TFavouritesMenuSource& Source, const QString& Caption,
              const std::string& Path) {
    auto* Item = new TFileMenuItem(IconFor(Source, Path), Caption, Path, &Menu);
    Item->setObjectName(QStringLiteral("FileMenuItem"));
    QObject::connect(Item, &QAction::triggered, &Menu, [Path, Click = Source.OnClickFileMenuItem] {
        if (Click) {
            Click(Path);
        }
    });
    Menu.addAction(Item);
}

std::vector<std::string> InvalidEntries(const std::vector<std::string>& Favourites) {
    std::vector<std::string> Gone;
    for (const std::string& Dir : Favourites) {
        if (!DirectoryExists(Dir)) {
            Gone.push_back(Dir);
        }
    }
    return Gone;
}

} // namespace

void BuildFavouritesMenu(QMenu& Menu, const TFavouritesMenuSource& Source,
                         const std::vector<QAction*>& Keep) {
    // The old entries belong to the menu; clear() deletes those it owns.
    Menu.clear();
    for (const TMenuDrive& Drive : Source.Drives) {
        AddEntry(Menu, Source, PathText(Drive.DisplayName), Drive.Path);
    }
    Menu.addSeparator();
    int Number = 0;
    for (auto It = Source.Favourites.rbegin(); It != Source.Favourites.rend(); ++It) {
        ++Number;
        // "&1" to "&9": the digit chooses the entry from the keyboard; "&" in a path is
        // doubled so that it shows.
        QString Caption = PathText(WithoutTrailingDelimiter(*It)).replace('&', "&&");
        Caption =
            (Number <= 9 ? QStringLiteral("&%1 ") : QStringLiteral("%1 ")).arg(Number) + Caption;
        AddEntry(Menu, Source, Caption, *It);
    }
    if (!InvalidEntries(Source.Favourites).empty()) {
        Menu.addSeparator();
        QAction* Remove = Menu.addAction(TrQ("删除无效条目..."));
        Remove->setObjectName(QStringLiteral("MenuItem_RemoveInvalidItems"));
        Remove->setIcon(QIcon::fromTheme(QStringLiteral("edit-clear")));
        QObject::connect(Remove, &QAction::triggered, &Menu,
                         [Click = Source.RemoveInvalidFavourites] {
                             if (Click) {
                                 Click();
                             }
                         });
    }
    if (!Keep.empty()) {
        Menu.addSeparator();
        for (QAction* Action : Keep) {
            Menu.addAction(Action);
        }
    }
}

bool RemoveInvalidFavourites(TMRUDirList& Favourites) {
    const std::vector<std::string> Gone = InvalidEntries(Favourites.Entries());
    if (Gone.empty()) {
        return false;
    }
    std::string Text = Tr("您真的要删除以下无效条目吗?");
    for (const std::string& Dir : Gone) {
        Text += "\n" + Dir;
    }
    if (!ConfirmYesNo(Text)) {
        return false;
    }
    Favourites.RemoveInvalidItems();
    return true;
}

} // namespace qv
