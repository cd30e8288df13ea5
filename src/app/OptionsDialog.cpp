#include "app/OptionsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/ScannerDialogHost.h"
#include "platform/Localization.h"
#include "settings/ClipSettings.h"
#include "settings/OptionData.h"

namespace vistamo {

namespace {

QString text(const char* key, const char* defaultText) {
    return QString::fromStdString(localizedString(key, defaultText));
}

constexpr int kProgramFieldWidth = 220;

}  // namespace

OptionsDialog::OptionsDialog(std::shared_ptr<ScannerDialogHost> scanner, QWidget* parent)
    : QDialog(parent), scanner_(std::move(scanner)) {
    setAttribute(Qt::WA_DeleteOnClose);

    auto* heading = new QLabel(text("OPTION_HEADING", "When a camera reports motion:"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    activeButton_ =
        new QCheckBox(text("OPTION_ACTIVE", "Bring this application to the front:"), this);
    activeProgramField_ = new QLineEdit(this);
    terminateButton_ = new QCheckBox(text("OPTION_TERMINATE", "Quit this application:"), this);
    terminateProgramField_ = new QLineEdit(this);
    runButton_ = new QCheckBox(text("OPTION_RUN", "Start this program:"), this);
    newAPP_ = new QLineEdit(this);
    soundButton_ = new QCheckBox(text("OPTION_SOUND", "Play the alarm sound"), this);
    onceAlarm_ = new QCheckBox(
        text("OPTION_ONCE", "After an alarm, switch the camera's motion guard off"), this);
    recordClip_ = new QCheckBox(text("OPTION_RECORD_CLIP", "Record a clip"), this);
    secondsAfter_ = new QSpinBox(this);
    secondsAfter_->setRange(1, ClipSettings::kMaxSecondsAfter);
    secondsAfter_->setSuffix(text("OPTION_CLIP_AFTER", " s after the alarm"));
    secondsBefore_ = new QSpinBox(this);
    secondsBefore_->setRange(0, ClipSettings::kMaxSecondsBefore);
    secondsBefore_->setSuffix(text("OPTION_CLIP_BEFORE", " s before it"));
    auto* clipLengths = new QHBoxLayout;
    clipLengths->addWidget(secondsAfter_);
    clipLengths->addWidget(secondsBefore_);
    for (QLineEdit* field : {activeProgramField_, terminateProgramField_, newAPP_}) {
        field->setMinimumWidth(kProgramFieldWidth);
    }
    activeProgramField_->setPlaceholderText(text("OPTION_PROGRAM_HINT", "application name"));
    terminateProgramField_->setPlaceholderText(text("OPTION_PROGRAM_HINT", "application name"));
    newAPP_->setPlaceholderText(text("OPTION_RUN_HINT", "program or desktop entry name"));

    auto* grid = new QGridLayout;
    grid->addWidget(activeButton_, 0, 0);
    grid->addWidget(activeProgramField_, 0, 1);
    grid->addWidget(terminateButton_, 1, 0);
    grid->addWidget(terminateProgramField_, 1, 1);
    grid->addWidget(runButton_, 2, 0);
    grid->addWidget(newAPP_, 2, 1);
    grid->addWidget(soundButton_, 3, 0, 1, 2);
    grid->addWidget(onceAlarm_, 4, 0, 1, 2);
    grid->addWidget(recordClip_, 5, 0);
    grid->addLayout(clipLengths, 5, 1);

    auto* buttons = new QDialogButtonBox(this);
    okButton_ = buttons->addButton(text("OK", "OK"), QDialogButtonBox::AcceptRole);
    cancelButton_ = buttons->addButton(text("CANCEL", "Cancel"), QDialogButtonBox::RejectRole);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &OptionsDialog::acceptOptions);
    connect(cancelButton_, &QPushButton::clicked, this, &OptionsDialog::cancelOptions);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    // Not resizable: the window keeps the size its contents ask for.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        beforeShow();
    }
}

void OptionsDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        wasHidden();
    }
}

void OptionsDialog::beforeShow() {
    setWindowTitle(text("OPTION", "Options"));
    if (!scanner_) {
        return;
    }
    const AlarmOptions& options = scanner_->alarmOptions();
    activeProgramField_->setText(QString::fromStdString(options.activeProgram));
    terminateProgramField_->setText(QString::fromStdString(options.terminateProgram));
    newAPP_->setText(QString::fromStdString(options.runProgram));
    terminateButton_->setChecked(options.bEnableTerminate);
    activeButton_->setChecked(options.bEnableActive);
    soundButton_->setChecked(options.bEnableSound);
    onceAlarm_->setChecked(options.bOnceAlarm);
    runButton_->setChecked(options.bEnableRun);
    const ClipSettings clip = loadClipSettings();
    recordClip_->setChecked(clip.recordClip);
    secondsAfter_->setValue(clip.secondsAfter);
    secondsBefore_->setValue(clip.secondsBefore);
}

void OptionsDialog::acceptOptions() {
    if (scanner_) {
        AlarmOptions& options = scanner_->alarmOptions();
        options.activeProgram = activeProgramField_->text().toStdString();
        options.terminateProgram = terminateProgramField_->text().toStdString();
        options.runProgram = newAPP_->text().toStdString();
        options.bEnableSound = soundButton_->isChecked();
        options.bEnableActive = activeButton_->isChecked();
        options.bEnableTerminate = terminateButton_->isChecked();
        options.bOnceAlarm = onceAlarm_->isChecked();
        options.bEnableRun = runButton_->isChecked();
        scanner_->saveOptions();
        ClipSettings clip;
        clip.recordClip = recordClip_->isChecked();
        clip.secondsAfter = secondsAfter_->value();
        clip.secondsBefore = secondsBefore_->value();
        saveClipSettings(clip);
        scanner_->applyClipSettings(clip);
    }
    accept();
}

void OptionsDialog::cancelOptions() { reject(); }

void OptionsDialog::wasHidden() {
    if (scanner_ && !scanner_->isConnected()) {
        scanner_->showScannerWindow();
    }
}

}  // namespace vistamo
