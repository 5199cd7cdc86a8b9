// The cost of one live redraw of the X11 magnifier: the lens's source square
// read from the windows beneath the overlay (Composite), put into the view's
// snapshot, and the lens repainted. Needs an X server with Composite, its
// screen as large as the case to measure:
//   xvfb-run -s '-screen 0 3840x2160x24' x11_lens_bench
// A full-screen window lies under two smaller ones, the source square on all
// three; the view paints on Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "core/settings.h"
#include "overlay/magnifier_refresh.h"
#include "overlay/spotlight_view.h"
#include "platform/x11/x11_screen_beneath.h"

namespace velt {
namespace {

QSize screenSize;

void window(xcb_connection_t* c, xcb_screen_t* s, QRect at, uint32_t colour) {
  const uint32_t id = xcb_generate_id(c);
  const uint32_t values[] = {colour, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, id, s->root, static_cast<int16_t>(at.x()),
                    static_cast<int16_t>(at.y()), static_cast<uint16_t>(at.width()),
                    static_cast<uint16_t>(at.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    s->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(c, id);
}

void liveRedraw(benchmark::State& state) {
  int number = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &number);
  xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const QPoint middle(s->width_in_pixels / 2, s->height_in_pixels / 2);
  window(c, s, {0, 0, s->width_in_pixels, s->height_in_pixels}, 0x3080c0);
  window(c, s, {middle - QPoint(300, 200), QSize(320, 240)}, 0xc08030);
  window(c, s, {middle, QSize(400, 300)}, 0x30c080);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

  auto beneath = X11ScreenBeneath::open();
  if (!beneath) {
    state.SkipWithError("no X display with Composite");
    return;
  }
  beneath->keep(true);
  Settings settings;
  SpotlightView view(settings);
  view.setScreenSize(screenSize);
  view.saveScreen(QImage(screenSize, QImage::Format_RGB32));
  view.setMode(2);
  QPoint pointer = middle;
  view.setPointerSource([&pointer] { return pointer; });
  view.resize(screenSize + QSize(1, 1));
  view.show();
  view.redrawScreen();
  QCoreApplication::processEvents();
  const RectF output{0, 0, static_cast<double>(screenSize.width()),
                     static_cast<double>(screenSize.height())};
  for (auto _ : state) {
    pointer += QPoint(1, 0);
    view.redrawScreen();
    const RectF a =
        magnifierSourceSquare({static_cast<double>(pointer.x()), static_cast<double>(pointer.y())},
                              settings.spotlightSize.load(), output);
    const QRect area = QRectF(a.x, a.y, a.width, a.height).toAlignedRect();
    view.updateSnapshot(area, beneath->picture(area, 0));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  state.SetLabel(std::to_string(screenSize.width()) + "x" + std::to_string(screenSize.height()));
  beneath.reset();
  xcb_disconnect(c);
}
BENCHMARK(liveRedraw)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velt

int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "x11_lens_bench: no X display ($DISPLAY)\n");
    return 1;
  }
  const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  velt::screenSize = QSize(s->width_in_pixels, s->height_in_pixels);
  xcb_disconnect(c);
  // The view paints off screen; only the windows are the display's.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
