#include "tests/support/qt_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace velt::testing {

bool processEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  return waitUntil(done, std::chrono::milliseconds(timeoutMs),
                   [] { QApplication::processEvents(QEventLoop::AllEvents, 20); });
}

void whenModalOpens(std::function<void()> action) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, action = std::move(action)] {
    if (!QApplication::activeModalWidget()) return;
    poll->stop();
    poll->deleteLater();
    action();
  });
  poll->start(5);
}

}  // namespace velt::testing

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
