#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "platform/Log.h"

namespace vistamo {

namespace {

// The user's runtime folder holds only this user's files; the temporary folder is shared, so
// there the name carries the user's id.
QString lockPath(const QString& name) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
        return QDir(runtime).filePath(name);
    }
    return QDir(QDir::tempPath()).filePath(QString::number(::getuid()) + QLatin1Char('-') + name);
}

}  // namespace

SingleInstance::SingleInstance(const QString& name)
    : path_(lockPath(name)), lock_(std::make_unique<QLockFile>(path_)) {
    // Never stale by age: a running copy keeps its lock however long it runs. A lock whose
    // process has gone is still recognised and removed by QLockFile.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryLock() {
    if (lock_->isLocked()) {
        return true;
    }
    if (lock_->tryLock(0)) {
        return true;
    }
    if (lock_->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock_->getLockInfo(&pid, &host, &application)) {
            logLine("another copy is already running (process " + std::to_string(pid) + ")");
        } else {
            logLine("another copy is already running");
        }
    } else {
        logLine("the lock file " + path_.toStdString() + " cannot be made; running anyway");
        // A lock that cannot be made must not keep the user from the application.
        return true;
    }
    return false;
}

}  // namespace vistamo
