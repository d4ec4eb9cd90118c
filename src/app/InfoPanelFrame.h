#pragma once
// The notification bar that slides in under the main window's toolbar: one line of text and
// the folders it concerns. Its refresh button hands those folders back for a new scan (the
// nested ones go with the folder that holds them); its close button forgets them.
//
// Threading: GUI thread only.

#include <QFrame>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QVariantAnimation;

namespace qv {

class TKtButton;

class TFrameInfoPanel final : public QFrame {
public:
    explicit TFrameInfoPanel(QWidget* Parent = nullptr);

    // Whether the bar is shown, or on its way in; false as soon as it starts to slide out.
    [[nodiscard]] bool IsPanelVisible() const noexcept { return Shown; }
    // Slides the bar in or out; nothing when it already is, or is on its way, there.
    void SetPanelVisible(bool Value);
    // Adds Path to the folders of the notice (once: paths differ by case on Linux), shows
    // Text and the bar.
    void Notify(const std::string& Path, const QString& Text);
    [[nodiscard]] const std::vector<std::string>& PendingPaths() const noexcept { return Pending; }
    // The button captions in the language now in use.
    void Retranslate();

    void ButtonInfoPanelRefreshClick();
    void ButtonCloseInfoPanelClick();

    // Called with each folder to scan again, outermost folders only, in the order noticed.
    std::function<void(const std::string& Path)> OnRefreshPath;

private:
    void ApplyColours();
    bool event(QEvent* Event) override;

    QFrame* PanelSpaceBorders = nullptr;
    QLabel* LabelNotify = nullptr;
    TKtButton* ButtonInfoPanelRefresh = nullptr;
    TKtButton* ButtonCloseInfoPanel = nullptr;
    QVariantAnimation* Slide = nullptr;
    std::vector<std::string> Pending;
    bool Shown = false;
};

} // namespace qv
