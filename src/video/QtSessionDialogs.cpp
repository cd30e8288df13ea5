#include "video/QtSessionDialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Localization.h"

namespace vistamo {

namespace {

QString text(const char* key, const char* defaultText) {
    return QString::fromStdString(localizedString(key, defaultText));
}

}  // namespace

PasswordAlert::PasswordAlert(QWidget* parent) : QDialog(parent), field_(new QLineEdit(this)) {
    setWindowTitle(text("PASSWORD_ERROR", "Wrong Password"));

    auto* message = new QLabel(text("PASSWORD_ERROR", "Wrong Password"), this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto* informative =
        new QLabel(text("PASSWORD_ERROR_INFO", "The camera did not accept the password."), this);
    informative->setWordWrap(true);

    field_->setEchoMode(QLineEdit::Password);
    field_->setFixedSize(kFieldWidth, kFieldHeight);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(text("OK", "OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(text("CANCEL", "Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(field_);
    layout->addWidget(buttons);
    field_->setFocus();
}

QtSessionDialogs::QtSessionDialogs(DialogRunner runner) : runner_(std::move(runner)) {}

std::optional<std::string> QtSessionDialogs::askPassword() {
    PasswordAlert alert;
    runner_(alert, DialogModality::application);
    if (alert.result() != QDialog::Accepted) {
        return std::nullopt;
    }
    return alert.passwordField().text().toStdString();
}

void QtSessionDialogs::showConnectError() {
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setText(text("CONNECT_ERROR", "Cannot Connect"));
    alert.setInformativeText(text("CONNECT_ERROR_DESC", "No camera answered at this address."));
    alert.addButton(text("OK", "OK"), QMessageBox::AcceptRole);
    runner_(alert, DialogModality::application);
}

}  // namespace vistamo
