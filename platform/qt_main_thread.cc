#include "platform/qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace velt {

void QtMainThread::post(std::function<void()> task) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

}  // namespace velt
