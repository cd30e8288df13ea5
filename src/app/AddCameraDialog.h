#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "video/DialogRunner.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vistamo {

class ScannerDialogHost;

// The add-camera dialog: the user types the IPv4 address of a camera that discovery does not
// find. OK with dotted-decimal IPv4 text adds the address to the camera list and connects to
// it; any other text brings up an alert on the dialog and leaves the text as it is. When the
// dialog disappears while no camera is connected, the scanner window comes back.
//
// A fresh dialog is made for each opening and deletes itself once closed; it holds the scanner
// weakly. Its size is fixed. Main thread only.
class AddCameraDialog : public QDialog {
    Q_OBJECT

public:
    // `alertRunner` shows the wrong-address alert, a sheet on this dialog.
    explicit AddCameraDialog(std::weak_ptr<ScannerDialogHost> scanner, QWidget* parent = nullptr,
                             DialogRunner alertRunner = showingDialogRunner());
    ~AddCameraDialog() override;

    // Whether `text` is an IPv4 address in dotted-decimal form.
    static bool isIPv4Text(const std::string& text);

    // The outlets.
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLineEdit* ipText() const { return ipText_; }
    QLabel* descLabel() const { return descLabel_; }

    // The buttons' actions.
    void acceptAddress();
    void cancel();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void beforeShow();
    void wasHidden();
    void showWrongIpAlert();

    // Main thread only. The widgets belong to the dialog.
    std::weak_ptr<ScannerDialogHost> scanner_;
    DialogRunner alertRunner_;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLineEdit* ipText_ = nullptr;
    QLabel* descLabel_ = nullptr;
};

}  // namespace vistamo
