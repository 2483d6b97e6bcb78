#include "frontends/qt/QtLoop.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QThread>

namespace qtfront {

namespace {

QAbstractEventDispatcher* Dispatcher() {
    return QAbstractEventDispatcher::instance(QThread::currentThread());
}

} // namespace

QtLoop::QtLoop() : dispatcher_(Dispatcher()) {
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
}

bool QtLoop::ProcessNative() {
    return dispatcher_->processEvents(QEventLoop::AllEvents);
}

bool QtLoop::WaitForWork(int timeoutMs) {
    if (timeoutMs == 0) {
        return false;
    }
    if (timeoutMs > 0) {
        timeout_.start(timeoutMs);
    }
    // Returns once anything was dispatched: input, a repaint, the time-out
    // or a queued Wake.
    const bool handled =
        dispatcher_->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    timeout_.stop();
    return handled;
}

void QtLoop::Wake() {
    // Thread-safe by Qt's contract, and it needs no Qt object on the calling
    // thread (the receive threads are not Qt threads).
    dispatcher_->wakeUp();
}

} // namespace qtfront
