// The application: one running copy per user session, the main queue on Qt's event loop, the
// scanner window.
#include <QApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/DebugLog.h"
#include "app/SingleInstance.h"
#include "dispatch/MainQueue.h"
#include "platform/Log.h"
#include "video/QtMainQueue.h"

int main(int argc, char** argv) {
    // Writes to a peer that has gone fail with EPIPE instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    // Help and version answer without a display.
    const auto early = vistamo::parseCommandLine({argv + std::min(argc, 1), argv + argc});
    if (early.action == vistamo::CommandLine::Action::Help) {
        std::fputs(vistamo::commandLineHelp().c_str(), stdout);
        return 0;
    }
    if (early.action == vistamo::CommandLine::Action::Version) {
        std::fputs(vistamo::commandLineVersion().c_str(), stdout);
        return 0;
    }

    QApplication application(argc, argv);
    // What Qt left of the arguments is ours alone.
    std::vector<std::string> rest;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        rest.push_back(argument.toStdString());
    }
    const auto commandLine = vistamo::parseCommandLine(rest);
    if (commandLine.action == vistamo::CommandLine::Action::Unknown) {
        vistamo::logLine("unknown argument " + commandLine.unknown + "; see vistamo --help");
        return 2;
    }
    vistamo::routeDebugLines(commandLine.verbose);
    QApplication::setApplicationName(QStringLiteral("vistamo"));
    QApplication::setDesktopFileName(QStringLiteral(VISTAMO_APP_ID));
    // Camera windows and dialogs come and go while the scanner window is hidden; the
    // application ends only by closing the scanner window or by Quit.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second copy ends before it touches the settings or the network.
    vistamo::SingleInstance instance;
    if (!instance.tryLock()) {
        vistamo::logLine("this copy ends");
        return 0;
    }

    vistamo::dispatch::setMainQueue(vistamo::QtMainQueue::create());
    vistamo::AppDelegate delegate;
    delegate.start();
    const int status = QApplication::exec();
    delegate.shutDown();
    return status;
}
