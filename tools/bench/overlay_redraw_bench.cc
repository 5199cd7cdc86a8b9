// The cost of following the pointer with the overlay at 1920x1080 and
// 3840x2160: one redrawScreen plus the paint it causes, through Qt's own
// repaint path on the offscreen platform. Also the full repaint that showing
// costs.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QImage>

#include "core/settings.h"
#include "overlay/spotlight_view.h"

namespace velt {
namespace {

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
  QSize screenSize;  // declared first: the pointer starts in its middle
  QPoint pointer;

  // height: 1080 or 2160, 16:9.
  Harness(int mode, bool backdrop, int height)
      : screenSize(height * 16 / 9, height),
        pointer(screenSize.width() / 2, screenSize.height() / 2) {
    QImage screen(screenSize, QImage::Format_RGB32);
    for (int y = 0; y < screenSize.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(screen.scanLine(y));
      for (int x = 0; x < screenSize.width(); ++x)
        line[x] = qRgb(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF);
    }
    view.setScreenSize(screenSize);
    view.saveScreen(screen);
    if (backdrop) view.setBackdrop(screen);
    view.setMode(mode);
    view.setPointerSource([this] { return pointer; });
    view.resize(screenSize + QSize(1, 1));
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
    if (pointer.x() >= screenSize.width()) pointer.setX(0);
    if (pointer.y() >= screenSize.height()) pointer.setY(0);
    view.redrawScreen();
    settle();
  }
};

void redrawAfterMotion(benchmark::State& state) {
  Harness harness(static_cast<int>(state.range(0)), state.range(1) != 0,
                  static_cast<int>(state.range(2)));
  for (auto _ : state) harness.step();
  state.counters["paints"] =
      benchmark::Counter(harness.counter.paints, benchmark::Counter::kAvgIterations);
}
BENCHMARK(redrawAfterMotion)
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {1080, 2160}})
    ->ArgNames({"mode", "backdrop", "height"})
    ->Unit(benchmark::kMillisecond);

void fullRepaint(benchmark::State& state) {
  Harness harness(static_cast<int>(state.range(0)), state.range(1) != 0,
                  static_cast<int>(state.range(2)));
  for (auto _ : state) {
    harness.view.update();
    Harness::settle();
  }
}
BENCHMARK(fullRepaint)
    ->ArgsProduct({{0, 2}, {0, 1}, {1080, 2160}})
    ->ArgNames({"mode", "backdrop", "height"})
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
