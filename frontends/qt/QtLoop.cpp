#include "frontends/qt/QtLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace qtfront {

namespace {

QAbstractEventDispatcher* Dispatcher() {
    return QAbstractEventDispatcher::instance(QThread::currentThread());
}

} // namespace

QtLoop::QtLoop() {
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
}

bool QtLoop::ProcessNative() {
    QAbstractEventDispatcher* dispatcher = Dispatcher();
    return dispatcher != nullptr && dispatcher->processEvents(QEventLoop::AllEvents);
}

void QtLoop::WaitForWork(int timeoutMs) {
    QAbstractEventDispatcher* dispatcher = Dispatcher();
    if (dispatcher == nullptr || timeoutMs == 0) {
        return;
    }
    if (timeoutMs > 0) {
        timeout_.start(timeoutMs);
    }
    // Returns once anything was dispatched: input, a repaint, the time-out
    // or a queued Wake.
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    timeout_.stop();
}

void QtLoop::Wake() {
    if (wakeQueued_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &receiver_, [this] { wakeQueued_ = false; }, Qt::QueuedConnection);
}

} // namespace qtfront
