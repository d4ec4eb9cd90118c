#pragma once
// The preferences dialog. It edits a working copy of the settings: OK takes the copy over,
// Apply lets the window show the copy at once (OnApply) without taking it over, and every
// way out calls OnApply with the settings themselves, so that after Cancel the window shows
// what it showed before Apply. The bar style list draws each style through its painter.
//
// Threading: GUI thread only; modal.

#include <QDialog>
#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;

namespace qv {

class TSettings;
class TKtCheckBox;
class TKtComboBox;
class TKtSpinEdit;

class TDlgSettings final : public QDialog {
public:
    // Translated, at the position it had when it was last closed at this screen resolution.
    explicit TDlgSettings(QWidget* Owner = nullptr);
    // Stores the position.
    ~TDlgSettings() override;

    // The modal run on Settings; true when closed with OK (Settings then hold the copy).
    bool Execute(TSettings& Settings);
    // Called after Apply with the working copy, and at the end of every Execute with the
    // settings Execute was given.
    std::function<void(TSettings& Settings)> OnApply;

    // The working copy while Execute runs; null otherwise.
    [[nodiscard]] TSettings* WorkCopy() const noexcept { return Work.get(); }

    // The handlers (each changes only the working copy).
    void CheckBoxGroupFilesClick();
    void EditGroupFileSizeChange();
    void CheckBoxDrawChildBarClick();
    void CmbBoxBarChartPaintStyleChange();
    void CmbBoxRoundingStyleChange();
    void ComboBoxLanguageChange();
    void BtnApplyClick();

protected:
    void changeEvent(QEvent* Event) override;

private:
    void Retranslate();
    // Captions and lists in the language now in use, the working copy kept as it was.
    void RetranslateKeepingWorkCopy();
    void FillControls();
    void RestorePosition();
    void StorePosition();

    std::unique_ptr<TSettings> Work;
    bool Filling = false;

    QGroupBox* GroupBoxAnalysis = nullptr;
    TKtCheckBox* CheckBoxGroupFiles = nullptr;
    TKtSpinEdit* EditGroupFileSize = nullptr;
    QLabel* LabelMegaByte = nullptr;
    QGroupBox* GroupBoxPaintOptions = nullptr;
    QLabel* LabelBarChartPaintStyle = nullptr;
    TKtComboBox* CmbBoxBarChartPaintStyle = nullptr;
    TKtCheckBox* CheckBoxDrawChildBar = nullptr;
    QLabel* LabelFileSizeRounding = nullptr;
    TKtComboBox* CmbBoxRoundingStyle = nullptr;
    QGroupBox* GroupBoxUserInterface = nullptr;
    QLabel* Label1 = nullptr;
    TKtComboBox* ComboBoxLanguage = nullptr;
    QPushButton* BtnOK = nullptr;
    QPushButton* BtnCancel = nullptr;
    QPushButton* BtnApply = nullptr;
};

} // namespace qv
