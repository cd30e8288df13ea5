#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace vistamo {

// Keeps this application to one running copy per user session: a lock file in
// $XDG_RUNTIME_DIR (else in the temporary folder, named with the user's id). The lock is held from
// a successful `tryLock` until this object goes; a lock left by a copy that crashed is taken over.
//
// Main thread only.
class SingleInstance {
public:
    // `name` is the lock file's name inside the folder.
    explicit SingleInstance(const QString& name = QStringLiteral("vistamo.lock"));
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another running copy holds the lock (logged). True otherwise: this copy now
    // holds it (or already did), or the lock file cannot be made at all, which is logged and
    // must not keep the user from the application.
    bool tryLock();

    const QString& path() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace vistamo
