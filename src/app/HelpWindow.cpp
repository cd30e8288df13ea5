#include "app/HelpWindow.h"

#include <QFileInfo>
#include <QShowEvent>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/Resources.h"

namespace vistamo {

namespace {

constexpr int kInitialWidth = 720;
constexpr int kInitialHeight = 560;

}  // namespace

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), web_(new QTextBrowser(this)) {
    web_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(web_);
    resize(kInitialWidth, kInitialHeight);
    loadPage(helpPagePath());
}

HelpWindow::~HelpWindow() = default;

std::string HelpWindow::helpPagePath() {
    return resourcePath(localizedString("HELP_FILE", "help") + ".html");
}

bool HelpWindow::loadPage(const std::string& path) {
    const QFileInfo file(QString::fromStdString(path));
    if (!file.isFile() || !file.isReadable()) {
        logLine("the help page " + path + " cannot be read; the help window stays empty");
        web_->clear();
        return false;
    }
    web_->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
    return true;
}

void HelpWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setWindowTitle(QString::fromStdString(localizedString("HELP", "Help")));
}

}  // namespace vistamo
