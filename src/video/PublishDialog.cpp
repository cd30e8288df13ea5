#include "video/PublishDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vistamo {

namespace {

constexpr int kAddressFieldWidth = 360;

}  // namespace

PublishDialog::PublishDialog(const std::string& address, Start start, QWidget* parent)
    : QDialog(parent), start_(std::move(start)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Publish Stream"));

    auto* description = new QLabel(
        QStringLiteral("The media server that passes this camera's stream on to its viewers:"),
        this);
    description->setWordWrap(true);
    address_ = new QLineEdit(QString::fromStdString(address), this);
    address_->setMinimumWidth(kAddressFieldWidth);
    address_->setPlaceholderText(QStringLiteral("rtsp://server:8554/camera"));
    fault_ = new QLabel(this);
    fault_->setWordWrap(true);
    fault_->setStyleSheet(QStringLiteral("color: #c0392b"));
    fault_->hide();

    auto* buttons = new QDialogButtonBox(this);
    startButton_ = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    startButton_->setDefault(true);
    connect(startButton_, &QPushButton::clicked, this, &PublishDialog::tryStart);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addWidget(address_);
    layout->addWidget(fault_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    address_->setFocus();
}

void PublishDialog::tryStart() {
    std::string fault;
    if (start_ && !start_(address_->text().trimmed().toStdString(), &fault)) {
        fault_->setText(QString::fromStdString(fault));
        fault_->show();
        address_->setFocus();
        return;
    }
    accept();
}

}  // namespace vistamo
