#include "app/AddCameraDialog.h"

#include <arpa/inet.h>

#include <QDialogButtonBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/ScannerDialogHost.h"
#include "platform/Localization.h"

namespace vistamo {

namespace {

QString text(const char* key, const char* defaultText) {
    return QString::fromStdString(localizedString(key, defaultText));
}

constexpr int kAddressFieldWidth = 260;

}  // namespace

AddCameraDialog::AddCameraDialog(std::weak_ptr<ScannerDialogHost> scanner, QWidget* parent,
                                 DialogRunner alertRunner)
    : QDialog(parent), scanner_(std::move(scanner)), alertRunner_(std::move(alertRunner)) {
    setAttribute(Qt::WA_DeleteOnClose);

    titleLabel_ = new QLabel(this);
    QFont bold = titleLabel_->font();
    bold.setBold(true);
    titleLabel_->setFont(bold);
    descLabel_ = new QLabel(this);
    descLabel_->setWordWrap(true);
    ipText_ = new QLineEdit(this);
    ipText_->setMinimumWidth(kAddressFieldWidth);
    ipText_->setPlaceholderText(QStringLiteral("192.168.1.20"));

    auto* buttons = new QDialogButtonBox(this);
    okButton_ = buttons->addButton(text("OK", "OK"), QDialogButtonBox::AcceptRole);
    cancelButton_ = buttons->addButton(text("CANCEL", "Cancel"), QDialogButtonBox::RejectRole);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &AddCameraDialog::acceptAddress);
    connect(cancelButton_, &QPushButton::clicked, this, &AddCameraDialog::cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel_);
    layout->addWidget(descLabel_);
    layout->addWidget(ipText_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ipText_->setFocus();
}

AddCameraDialog::~AddCameraDialog() = default;

bool AddCameraDialog::isIPv4Text(const std::string& text) {
    // An embedded NUL would end the text early for inet_pton and let "1.2.3.4\0junk" pass.
    if (text.find('\0') != std::string::npos) {
        return false;
    }
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

void AddCameraDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        beforeShow();
    }
}

void AddCameraDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        wasHidden();
    }
}

void AddCameraDialog::beforeShow() {
    titleLabel_->setText(text("NEW_DEVICE", "Add a Camera"));
    descLabel_->setText(text("NEW_DEVICE_DESC", ""));
    setWindowTitle(text("NEW_DEVICE_TITLE", "Add Camera"));
    okButton_->setText(text("OK", "OK"));
    cancelButton_->setText(text("CANCEL", "Cancel"));
}

void AddCameraDialog::acceptAddress() {
    const std::string address = ipText_->text().toStdString();
    if (!isIPv4Text(address)) {
        showWrongIpAlert();
        return;
    }
    if (const auto scanner = scanner_.lock()) {
        scanner->addNewOne(address);
        scanner->connectToAddress(address);
    }
    accept();
}

void AddCameraDialog::cancel() { reject(); }

void AddCameraDialog::wasHidden() {
    const auto scanner = scanner_.lock();
    if (scanner && !scanner->isConnected()) {
        scanner->showScannerWindow();
    }
}

void AddCameraDialog::showWrongIpAlert() {
    // A sheet outlives this call; it deletes itself once answered, or goes with the dialog.
    auto* alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Information);
    alert->setWindowTitle(text("WRONG_IP", "Wrong IP Address"));
    alert->setText(text("WRONG_IP", "Wrong IP Address"));
    alert->setInformativeText(text("WRONG_IP_MSG", ""));
    QPushButton* ok = alert->addButton(text("OK", "OK"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    alertRunner_(*alert, DialogModality::windowSheet);
}

}  // namespace vistamo
