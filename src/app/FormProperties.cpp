#include "app/FormProperties.h"

#include "settings/QvSettings.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>
#include <string_view>
#include <vector>

namespace qv {

namespace {

// A translated text with its "%s" replaced by Arg, which is not passed through UTF-8
// decoding again (a path may hold any bytes).
QString TrQ(const char* MsgId, const QString& Arg) {
    QString Text = qv::TrQ(MsgId);
    const auto At = Text.indexOf(QStringLiteral("%s"));
    return At < 0 ? Text : Text.replace(At, 2, Arg);
}

// The last component of Path; "/" for the root.
std::string ItemName(const std::string& Path) {
    std::string_view Name = Path;
    while (Name.size() > 1 && Name.back() == '/') {
        Name.remove_suffix(1);
    }
    const auto Slash = Name.rfind('/');
    if (Slash != std::string_view::npos && Name.size() > 1) {
        Name.remove_prefix(Slash + 1);
    }
    return std::string(Name);
}

// Folders below Top. Each child list is read under its lock, as a scan thread may be
// appending to it; the nodes themselves stay valid after the lock is released because
// only the GUI thread, which runs this, frees nodes.
std::int32_t CountFolders(const TGroupNode& Top) {
    std::int32_t Count = 0;
    std::vector<const TGroupNode*> Pending{&Top};
    while (!Pending.empty()) {
        const TGroupNode* Node = Pending.back();
        Pending.pop_back();
        TChildrenLock Guard(*Node);
        for (const TFileSystemNode* Child : Guard.Children().Items()) {
            if (Child->IsGroupNode() && !Child->IsFileGroup()) {
                ++Count;
                Pending.push_back(static_cast<const TGroupNode*>(Child));
            }
        }
    }
    return Count;
}

// The formatter of the window's size column.
TSizeFormatFunc WindowSizeFormatter() {
    try {
        return SizeFormatterForStyle(AppSettings().FileSizeRounding());
    } catch (const std::exception&) {
        // Without a settings folder the window runs on the default rounding too.
        return SizeFormatterForStyle(fsrRoundDown);
    }
}

QString SizeText(std::int64_t Size) {
    QString Text = ToQ(WindowSizeFormatter()(Size));
    // Below 1 KB the formatted size is the byte count already.
    if (Size >= 1024 || Size <= -1024) {
        Text += QStringLiteral(" (") + TrQ("%s bytes", ToQ(FormatNumber(double(Size), 0))) +
                QLatin1Char(')');
    }
    return Text;
}

// Date and time in the user's locale, always with the seconds: two times a few seconds
// apart must not read alike.
QString TimeText(const timespec& Time) {
    const QLocale Locale;
    QString Format = Locale.dateTimeFormat(QLocale::ShortFormat);
    if (!Format.contains(QStringLiteral("ss"))) {
        Format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
    }
    const QDateTime Moment =
        QDateTime::fromMSecsSinceEpoch(qint64(Time.tv_sec) * 1000 + Time.tv_nsec / 1000000);
    return Locale.toString(Moment, Format);
}

// "name (number)", or the number alone when the system has no name for it.
QString IdText(const std::string& Name, unsigned Id) {
    return Name.empty() ? QString::number(Id)
                        : ToQ(Name) + QStringLiteral(" (") + QString::number(Id) + QLatin1Char(')');
}

const char* KindName(TItemKind Kind) {
    switch (Kind) {
    case ikRegularFile:
        return TrNoop("File");
    case ikDirectory:
        return TrNoop("Folder");
    case ikSymbolicLink:
        return TrNoop("Symbolic link");
    case ikBlockDevice:
        return TrNoop("Block device");
    case ikCharacterDevice:
        return TrNoop("Character device");
    case ikFifo:
        return TrNoop("Named pipe (FIFO)");
    case ikSocket:
        return TrNoop("Socket");
    case ikOther:
        break;
    }
    return TrNoop("Other");
}

// The name a screen reader gives a value: its caption without the colon.
QString AccessibleCaption(QString Caption) {
    while (!Caption.isEmpty() && (Caption.back() == QLatin1Char(':') ||
                                  Caption.back() == QChar(0xFF1A) || Caption.back().isSpace())) {
        Caption.chop(1);
    }
    return Caption.remove(QLatin1Char('&'));
}

} // namespace

TFormProperties::TFormProperties(const std::string& Path, const TFileSystemNode* Node,
                                 QWidget* Parent)
    : QDialog(Parent), Info(ReadItemInfo(Path)) {
    setObjectName(QStringLiteral("FormProperties"));
    if (Node != nullptr) {
        HasNode = true;
        TreeSize = Node->GetSize();
        if (Node->IsGroupNode()) {
            HasCounts = true;
            FileCount = Node->GetFileCount();
            FolderCount = CountFolders(static_cast<const TGroupNode&>(*Node));
        }
    }

    auto* Form = new QFormLayout;
    AddRow(*Form, pfPath);
    if (Info.Error != 0) {
        // The item is gone or unreadable: what the scan found still holds.
        AddRow(*Form, pfError);
        if (HasNode) {
            AddRow(*Form, pfSize);
        }
    } else {
        AddRow(*Form, pfKind);
        if (Info.Kind == ikSymbolicLink) {
            AddRow(*Form, pfLinkTarget);
        }
        // A folder's own length says nothing; its size is the scan's total.
        if (HasNode || Info.Kind != ikDirectory) {
            AddRow(*Form, pfSize);
        }
        AddRow(*Form, pfAllocated);
    }
    if (HasCounts) {
        AddRow(*Form, pfFiles);
        AddRow(*Form, pfFolders);
    }
    if (Info.Error == 0) {
        for (TField Field : {pfModified, pfChanged, pfAccessed, pfOwner, pfGroup, pfPermissions}) {
            AddRow(*Form, Field);
        }
        if (!Info.MountPoint.empty()) {
            AddRow(*Form, pfFileSystem);
            AddRow(*Form, pfMountPoint);
        }
    }

    Buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Form);
    Layout->addWidget(Buttons);
    Layout->setSizeConstraint(QLayout::SetFixedSize);
    Retranslate();
}

void TFormProperties::AddRow(QFormLayout& Form, TField Field) {
    static constexpr const char* Names[] = {
        "Path",  "Error",       "Kind",       "LinkTarget", "Size",     "SizeOnDisk",
        "Files", "Folders",     "Modified",   "Changed",    "Accessed", "Owner",
        "Group", "Permissions", "FileSystem", "MountPoint",
    };
    static_assert(std::size(Names) == pfMountPoint + 1);
    auto* Caption = new QLabel(this);
    auto* Value = new QLabel(this);
    Caption->setObjectName(QStringLiteral("Caption") + QLatin1String(Names[Field]));
    Value->setObjectName(QStringLiteral("Value") + QLatin1String(Names[Field]));
    // Names may hold "<" or "&": never read them as markup.
    Caption->setTextFormat(Qt::PlainText);
    Value->setTextFormat(Qt::PlainText);
    Value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Ties the caption to its value for assistive technology.
    Caption->setBuddy(Value);
    Form.addRow(Caption, Value);
    Rows.push_back({Field, Caption, Value});
}

void TFormProperties::Retranslate() {
    setWindowTitle(TrQ("Properties of %s", PathText(ItemName(Info.Path))));
    for (const TRow& Row : Rows) {
        const QString Caption = CaptionText(Row.Field);
        const QString Value = ValueText(Row.Field);
        Row.Caption->setText(Caption);
        Row.Caption->setAccessibleName(AccessibleCaption(Caption));
        Row.Value->setText(Value);
        Row.Value->setAccessibleName(AccessibleCaption(Caption));
        Row.Value->setAccessibleDescription(Value);
    }
    if (QPushButton* Close = Buttons->button(QDialogButtonBox::Close)) {
        Close->setText(TrQ("&Close"));
        Close->setAccessibleName(AccessibleCaption(Close->text()));
    }
}

QString TFormProperties::CaptionText(TField Field) const {
    switch (Field) {
    case pfPath:
        return TrQ("Path:");
    case pfError:
        return TrQ("Error:");
    case pfKind:
        return TrQ("Type:");
    case pfLinkTarget:
        return TrQ("Link target:");
    case pfSize:
        return TrQ("Size:");
    case pfAllocated:
        return TrQ("Size on disk:");
    case pfFiles:
        return TrQ("Files:");
    case pfFolders:
        return TrQ("Folders:");
    case pfModified:
        return TrQ("Modified:");
    case pfChanged:
        return TrQ("Status changed:");
    case pfAccessed:
        return TrQ("Accessed:");
    case pfOwner:
        return TrQ("Owner:");
    case pfGroup:
        return TrQ("Group:");
    case pfPermissions:
        return TrQ("Permissions:");
    case pfFileSystem:
        return TrQ("File system:");
    case pfMountPoint:
        return TrQ("Mount point:");
    }
    return {};
}

QString TFormProperties::ValueText(TField Field) const {
    switch (Field) {
    case pfPath:
        return PathText(Info.Path);
    case pfError:
        return ToQ(Info.ErrorMessage);
    case pfKind:
        return TrQ(KindName(Info.Kind));
    case pfLinkTarget:
        return PathText(Info.LinkTarget);
    case pfSize:
        return SizeText(HasNode ? TreeSize : Info.Size);
    case pfAllocated:
        // Next to a folder's total, its own allocation would read as the total's.
        return Info.Kind == ikDirectory
                   ? TrQ("%s for the folder itself", SizeText(Info.AllocatedSize))
                   : SizeText(Info.AllocatedSize);
    case pfFiles:
        return ToQ(FormatCount(FileCount));
    case pfFolders:
        return ToQ(FormatCount(FolderCount));
    case pfModified:
        return TimeText(Info.Modified);
    case pfChanged:
        return TimeText(Info.Changed);
    case pfAccessed:
        return TimeText(Info.Accessed);
    case pfOwner:
        return IdText(Info.OwnerName, Info.Uid);
    case pfGroup:
        return IdText(Info.GroupName, Info.Gid);
    case pfPermissions:
        return ToQ(PermissionText(Info.Mode)) +
               QString::asprintf(" (%04o)", unsigned(Info.Mode & 07777));
    case pfFileSystem:
        return ToQ(Info.FileSystemType);
    case pfMountPoint:
        return PathText(Info.MountPoint);
    }
    return {};
}

void ShowItemProperties(const std::string& Path, const TFileSystemNode* Node, QWidget* Parent) {
    auto* Form = new TFormProperties(Path, Node, Parent);
    Form->setAttribute(Qt::WA_DeleteOnClose);
    Form->setModal(false);
    Form->show();
    Form->raise();
    Form->activateWindow();
}

} // namespace qv
