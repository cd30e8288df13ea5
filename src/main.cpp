// The application: one running copy per user session, the main queue on Qt's event loop, the
// scanner window.
#include <QApplication>
#include <csignal>

#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "dispatch/MainQueue.h"
#include "platform/Log.h"
#include "video/QtMainQueue.h"

int main(int argc, char** argv) {
    // Writes to a peer that has gone fail with EPIPE instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vistamo"));
    QApplication::setDesktopFileName(QStringLiteral("vistamo"));
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
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}
