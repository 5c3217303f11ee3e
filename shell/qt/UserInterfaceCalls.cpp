// Calls from other threads into the user-interface thread: a queued call on the application
// object, which lives there.
#include <QCoreApplication>
#include <QMetaObject>

#include "shell/BackEnd.h"

void PrepareUserInterfaceCalls() {}

void CallOnUserInterfaceThread(std::function<void()> call) {
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(call), Qt::QueuedConnection);
}
