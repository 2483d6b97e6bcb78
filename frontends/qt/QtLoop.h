#pragma once

#include "platform/Application.h"

#include <QObject>
#include <QTimer>
#include <atomic>

namespace qtfront {

// Lets the core's loop wait inside Qt's event processing, so that the window
// repaints and takes input during every wait and modal box of the core.
// Create it on the thread of the QApplication, after the QApplication.
class QtLoop : public platform::LoopBackend {
public:
    QtLoop();
    bool ProcessNative() override;
    void WaitForWork(int timeoutMs) override;
    void Wake() override;

private:
    QObject receiver_;
    QTimer timeout_;
    // One queued wake at a time: the receive threads post far more often
    // than the loop needs waking.
    std::atomic<bool> wakeQueued_{false};
};

} // namespace qtfront
