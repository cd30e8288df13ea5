#pragma once

#include <QDialog>
#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vistamo {

class ScannerDialogHost;

// The option dialog: which actions a camera's motion alarm runs. It edits the scanner's
// alarm settings: the fields are filled from them each time the dialog appears, OK writes
// them back and saves the options file, Cancel changes nothing. The clip a motion alarm
// records is kept apart, in the clip settings file, and OK hands it to the open cameras. When the
// dialog disappears while no camera is connected, the scanner window comes back.
//
// A fresh dialog is made for each opening; it keeps its scanner alive while it exists and
// deletes itself once closed. Its size is fixed. Main thread only.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit OptionsDialog(std::shared_ptr<ScannerDialogHost> scanner, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    // The outlets.
    QCheckBox* activeButton() const { return activeButton_; }
    QCheckBox* terminateButton() const { return terminateButton_; }
    QCheckBox* soundButton() const { return soundButton_; }
    QLineEdit* activeProgramField() const { return activeProgramField_; }
    QLineEdit* terminateProgramField() const { return terminateProgramField_; }
    QCheckBox* onceAlarm() const { return onceAlarm_; }
    QLineEdit* newAPP() const { return newAPP_; }
    QCheckBox* runButton() const { return runButton_; }
    QCheckBox* recordClip() const { return recordClip_; }
    QSpinBox* secondsAfter() const { return secondsAfter_; }
    QSpinBox* secondsBefore() const { return secondsBefore_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    // The buttons' actions.
    void acceptOptions();
    void cancelOptions();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void beforeShow();
    void wasHidden();

    // Main thread only. The widgets belong to the dialog.
    std::shared_ptr<ScannerDialogHost> scanner_;
    QCheckBox* activeButton_ = nullptr;
    QCheckBox* terminateButton_ = nullptr;
    QCheckBox* soundButton_ = nullptr;
    QLineEdit* activeProgramField_ = nullptr;
    QLineEdit* terminateProgramField_ = nullptr;
    QCheckBox* onceAlarm_ = nullptr;
    QLineEdit* newAPP_ = nullptr;
    QCheckBox* runButton_ = nullptr;
    QCheckBox* recordClip_ = nullptr;
    QSpinBox* secondsAfter_ = nullptr;
    QSpinBox* secondsBefore_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace vistamo
