#pragma once
// TFormInfo: the about box. Icon, product name, the running executable's version, the
// copyright line and the project's web address, which opens in the desktop's browser when
// clicked or, once tabbed to, on Enter or Space.
//
// The dialog is sized by its layouts and then fixed, so translations of any length fit;
// Qt centres it on its parent, or on the screen when it has none.

#include <QDialog>
#include <QIcon>

class QEvent;
class QLabel;
class QObject;
class QPushButton;
class QShowEvent;

namespace qv {

// The program's icon with every size drawn for it, 16 to 256 pixels.
[[nodiscard]] QIcon AppIcon();

class TFormInfo final : public QDialog {
public:
    explicit TFormInfo(QWidget* Parent = nullptr);

    // Sets every text, tooltip and accessible name in the current language.
    void Retranslate();

protected:
    void changeEvent(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void FormCreate();
    void LabelWebsiteClick();
    // Draws the icon for the pixel density of the screen the dialog is on.
    void ShowIcon();
    // Paints the web label as selected while it has the focus: a plain label draws no focus
    // frame, and a keyboard user must see where Enter goes.
    void ShowWebsiteFocus(bool HasFocus);

    QLabel* ImageAppIcon = nullptr;
    QLabel* LabelProductName = nullptr;
    QLabel* LabelVersion = nullptr;
    QLabel* LabelCopyright = nullptr;
    QLabel* LabelWebsite = nullptr;
    QPushButton* BtnOK = nullptr;
};

} // namespace qv
