#include "app/ZOptionVC.h"

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

ZOptionVC::ZOptionVC(std::shared_ptr<ScannerDialogHost> scanner, QWidget* parent)
    : QDialog(parent), mScanner_(std::move(scanner)) {
    setAttribute(Qt::WA_DeleteOnClose);

    auto* heading = new QLabel(text("OPTION_HEADING", "When a camera reports motion:"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    activeButton_ =
        new QCheckBox(text("OPTION_ACTIVE", "Bring this application to the front:"), this);
    activePragram_ = new QLineEdit(this);
    terminateButton_ = new QCheckBox(text("OPTION_TERMINATE", "Quit this application:"), this);
    terminatePragram_ = new QLineEdit(this);
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
    for (QLineEdit* field : {activePragram_, terminatePragram_, newAPP_}) {
        field->setMinimumWidth(kProgramFieldWidth);
    }
    activePragram_->setPlaceholderText(text("OPTION_PROGRAM_HINT", "application name"));
    terminatePragram_->setPlaceholderText(text("OPTION_PROGRAM_HINT", "application name"));
    newAPP_->setPlaceholderText(text("OPTION_RUN_HINT", "program or desktop entry name"));

    auto* grid = new QGridLayout;
    grid->addWidget(activeButton_, 0, 0);
    grid->addWidget(activePragram_, 0, 1);
    grid->addWidget(terminateButton_, 1, 0);
    grid->addWidget(terminatePragram_, 1, 1);
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
    connect(okButton_, &QPushButton::clicked, this, &ZOptionVC::OnOKWithId);
    connect(cancelButton_, &QPushButton::clicked, this, &ZOptionVC::OnCancelWithId);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    // Not resizable: the window keeps the size its contents ask for.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ZOptionVC::~ZOptionVC() = default;

void ZOptionVC::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        viewWillAppear();
    }
}

void ZOptionVC::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        viewDidDisappear();
    }
}

void ZOptionVC::viewWillAppear() {
    setWindowTitle(text("OPTION", "Options"));
    if (!mScanner_) {
        return;
    }
    const AlarmOptions& options = mScanner_->alarmOptions();
    activePragram_->setText(QString::fromStdString(options.activeProgram));
    terminatePragram_->setText(QString::fromStdString(options.terminateProgram));
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

void ZOptionVC::OnOKWithId() {
    if (mScanner_) {
        AlarmOptions& options = mScanner_->alarmOptions();
        options.activeProgram = activePragram_->text().toStdString();
        options.terminateProgram = terminatePragram_->text().toStdString();
        options.runProgram = newAPP_->text().toStdString();
        options.bEnableSound = soundButton_->isChecked();
        options.bEnableActive = activeButton_->isChecked();
        options.bEnableTerminate = terminateButton_->isChecked();
        options.bOnceAlarm = onceAlarm_->isChecked();
        options.bEnableRun = runButton_->isChecked();
        mScanner_->saveOptions();
        ClipSettings clip;
        clip.recordClip = recordClip_->isChecked();
        clip.secondsAfter = secondsAfter_->value();
        clip.secondsBefore = secondsBefore_->value();
        saveClipSettings(clip);
        mScanner_->applyClipSettings(clip);
    }
    accept();
}

void ZOptionVC::OnCancelWithId() { reject(); }

void ZOptionVC::viewDidDisappear() {
    if (mScanner_ && !mScanner_->isConnected()) {
        mScanner_->showScannerWindow();
    }
}

}  // namespace vistamo
