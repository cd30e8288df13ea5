#include "video/QtMainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <mutex>

namespace vistamo {

std::shared_ptr<QtMainQueue> QtMainQueue::create() {
    return std::shared_ptr<QtMainQueue>(new QtMainQueue());
}

QtMainQueue::QtMainQueue() : context_(std::make_unique<QObject>()) {
    if (QCoreApplication::instance() != nullptr) {
        context_->moveToThread(QCoreApplication::instance()->thread());
    }
}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::async(dispatch::Work work) {
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

void QtMainQueue::sync(dispatch::Work work) {
    if (isCurrent()) {
        work();
        return;
    }
    // A blocking queued call of our own rather than Qt::BlockingQueuedConnection, so that the
    // waiter is released even when the event loop drops the call (the application is quitting
    // and the posted event is deleted unrun).
    struct Completion {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;  // guarded by `lock`
    };
    auto completion = std::make_shared<Completion>();
    struct Signal {
        std::shared_ptr<Completion> completion;
        ~Signal() {
            if (!completion) {
                return;
            }
            std::lock_guard guard(completion->lock);
            completion->finished = true;
            completion->done.notify_all();
        }
    };
    auto signal = std::make_shared<Signal>();
    signal->completion = completion;
    QMetaObject::invokeMethod(
        context_.get(),
        [work = std::move(work), signal = std::move(signal)]() mutable {
            work();
            signal.reset();
        },
        Qt::QueuedConnection);
    std::unique_lock guard(completion->lock);
    completion->done.wait(guard, [&] { return completion->finished; });
}

void QtMainQueue::after(double seconds, dispatch::Work work) {
    const int ms = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5);
    QObject* context = context_.get();
    QMetaObject::invokeMethod(
        context,
        [context, ms, work = std::move(work)]() mutable {
            QTimer::singleShot(ms, context, std::move(work));
        },
        Qt::QueuedConnection);
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_->thread(); }

const std::string& QtMainQueue::label() const { return label_; }

}  // namespace vistamo
