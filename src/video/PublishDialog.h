#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vistamo {

// Asks where to publish a camera: one field, the media server's address
// (rtsp://host[:port]/path, optionally with user:password@), focused and filled with the
// camera's remembered address. Start (also Return) hands the text to `start`, which says why it
// cannot start: the reason then shows under the field and the dialog stays; otherwise it
// closes. The window title never shows the address.
//
// A fresh dialog is made for each opening and deletes itself once closed. Main thread only.
class PublishDialog final : public QDialog {
    Q_OBJECT

public:
    // Starts publishing to the address; false, with the reason in `*fault`, when it cannot.
    using Start = std::function<bool(const std::string& address, std::string* fault)>;

    PublishDialog(const std::string& address, Start start, QWidget* parent = nullptr);

    QLineEdit* addressField() const { return address_; }
    QLabel* faultLabel() const { return fault_; }
    QPushButton* startButton() const { return startButton_; }

    // The Start button's action.
    void tryStart();

private:
    Start start_;
    QLineEdit* address_ = nullptr;
    QLabel* fault_ = nullptr;
    QPushButton* startButton_ = nullptr;
};

}  // namespace vistamo
