// The cost of following the pointer with the overlay at 1920x1080: one
// redrawScreen plus the paint it causes, through Qt's own repaint path on
// the offscreen platform. Also the full repaint that showing costs.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QImage>

#include "core/settings.h"
#include "overlay/spotlight_view.h"

namespace velt {
namespace {

constexpr QSize kScreen{1920, 1080};

class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// A shown view on a 1920x1080 screen with a picture of it to enlarge.
struct Harness {
  Settings settings;
  SpotlightView view{settings};
  PaintCounter counter;
  QPoint pointer{960, 540};

  Harness(int mode, bool backdrop) {
    QImage screen(kScreen, QImage::Format_RGB32);
    for (int y = 0; y < kScreen.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(screen.scanLine(y));
      for (int x = 0; x < kScreen.width(); ++x) line[x] = qRgb(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF);
    }
    view.setScreenSize(kScreen);
    view.saveScreen(screen);
    if (backdrop) view.setBackdrop(screen);
    view.setMode(mode);
    view.setPointerSource([this] { return pointer; });
    view.resize(kScreen + QSize(1, 1));
    view.installEventFilter(&counter);
    view.show();
    view.redrawScreen();
    settle();
    counter.paints = 0;
  }
  static void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  // The pointer moves a little, as between two redraws of a moving mouse.
  void step() {
    pointer += QPoint(7, 3);
    if (pointer.x() >= kScreen.width()) pointer.setX(0);
    if (pointer.y() >= kScreen.height()) pointer.setY(0);
    view.redrawScreen();
    settle();
  }
};

void redrawAfterMotion(benchmark::State& state) {
  Harness harness(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) harness.step();
  state.counters["paints"] =
      benchmark::Counter(harness.counter.paints, benchmark::Counter::kAvgIterations);
}
BENCHMARK(redrawAfterMotion)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"mode", "backdrop"})
    ->Unit(benchmark::kMillisecond);

void fullRepaint(benchmark::State& state) {
  Harness harness(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    harness.view.update();
    Harness::settle();
  }
}
BENCHMARK(fullRepaint)
    ->ArgsProduct({{0, 2}, {0, 1}})
    ->ArgNames({"mode", "backdrop"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velt

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
