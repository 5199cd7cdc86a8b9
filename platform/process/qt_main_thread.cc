#include "platform/process/qt_main_thread.h"

#include <QCoreApplication>
#include <QEvent>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace velt {

namespace {

// Qt hands a posted event to the main thread under a lock of its own, which
// ThreadSanitizer does not see in a Qt built without it. These two tell it
// what that lock orders: all the poster did before posting the event
// happens before the main thread runs or drops it.
void handedOver(QEvent* event) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(event);
#else
  (void)event;
#endif
}
void takenOver(QEvent* event) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(event);
#else
  (void)event;
#endif
}

const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TaskEvent : public QEvent {
 public:
  explicit TaskEvent(std::function<void()> task) : QEvent(kTaskEvent), task(std::move(task)) {}
  ~TaskEvent() override { takenOver(this); }
  std::function<void()> task;
};

class TaskReceiver : public QObject {
 public:
  bool event(QEvent* event) override {
    takenOver(event);
    if (event->type() != kTaskEvent) return QObject::event(event);
    static_cast<TaskEvent*>(event)->task();
    return true;
  }
};

}  // namespace

QtMainThread::QtMainThread() : receiver_(std::make_unique<TaskReceiver>()) {}

QtMainThread::~QtMainThread() = default;

void QtMainThread::post(std::function<void()> task) {
  if (!QCoreApplication::instance()) return;
  auto* event = new TaskEvent(std::move(task));
  handedOver(event);
  QCoreApplication::postEvent(receiver_.get(), event);
}

}  // namespace velt
