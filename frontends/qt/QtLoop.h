#pragma once

#include "platform/Application.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

namespace qtfront {

// Lets the core's loop wait inside Qt's event processing, so that the window
// repaints and takes input during every wait and modal box of the core.
// Create it on the thread of the QApplication, after the QApplication.
// Wake is the only member for other threads.
class QtLoop : public platform::LoopBackend {
public:
    QtLoop();
    bool ProcessNative() override;
    bool WaitForWork(int timeoutMs) override;
    void Wake() override;

private:
    QAbstractEventDispatcher* dispatcher_;
    QTimer timeout_;
};

} // namespace qtfront
