// velt-window-snapshots OUTPUT_FOLDER: starts the agent's interface on a
// fixed device list and saves pictures of the configuration window with no
// mouse, one mouse and two mice, of an application's profile, and of the
// shortcut recorder. Run it under an X server (xvfb-run) with QT_SCALE_FACTOR
// set to check other scales.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>

#include "actions/keyboard_struct.h"
#include "app/agent.h"
#include "app/app_delegate.h"
#include "core/log.h"
#include "platform/process/file_locations.h"
#include "platform/process/qt_main_thread.h"
#include "testing/fixed_device_directory.h"
#include "ui/configuration_window.h"

namespace fs = std::filesystem;

namespace {

void waitFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A plain drawing of a mouse, for when the resources have no models.
std::string drawMouse(const fs::path& folder) {
  QImage image(800, 800, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 70), 10));
  p.setBrush(QColor(225, 228, 235));
  p.drawRoundedRect(QRectF(250, 80, 300, 640), 150, 150);
  p.drawLine(QPointF(400, 85), QPointF(400, 300));
  p.setBrush(QColor(120, 120, 130));
  p.drawRoundedRect(QRectF(380, 150, 40, 90), 20, 20);
  auto path = folder / "mouse.png";
  image.save(QString::fromStdString(path.string()));
  return path.string();
}

std::vector<velt::DeviceRecord> sampleDevices(const velt::ModelCatalogue& catalogue,
                                              const fs::path& scratch) {
  std::vector<velt::DeviceRecord> records;
  for (const auto& [name, model] : catalogue) {
    velt::DeviceRecord r;
    r.type = model.type == 0 ? 1 : model.type;
    r.name = model.name;
    r.imagePath = model.imagePath;
    r.buttonMask = model.buttonMask;
    for (size_t i = 0; i < r.buttonPos.size() && i < model.buttonPos.size(); ++i) {
      r.buttonPos[i] = model.buttonPos[i];
    }
    for (const auto& extra : model.hidNum) {
      if (r.extraCount == 4) break;
      r.extraDown[r.extraCount] = extra.down;
      r.extraUp[r.extraCount] = extra.up;
      r.extraPos[r.extraCount] = extra.pos;
      ++r.extraCount;
    }
    records.push_back(r);
    if (records.size() == 2) return records;
  }
  std::string picture = drawMouse(scratch);
  while (records.size() < 2) {
    velt::DeviceRecord r;
    r.type = 1;
    r.name = records.empty() ? "QR-350" : "QR-450";
    r.imagePath = picture;
    r.buttonMask = 4 | 8 | 16;
    r.buttonPos = {{{0, 0}, {0, 0}, {500, 340}, {330, 560}, {330, 700}}};
    r.extraCount = 1;
    r.extraDown[0] = 0xFE;
    r.extraUp[0] = 0xFD;
    r.extraPos[0] = {500, 470};
    records.push_back(r);
  }
  return records;
}

bool save(QWidget* window, const fs::path& file) {
  window->raise();
  waitFor(400);  // badges finish moving
  QPixmap shot;
  if (QScreen* screen = window->screen()) shot = screen->grabWindow(window->winId());
  if (shot.isNull()) shot = window->grab();
  bool ok = shot.save(QString::fromStdString(file.string()));
  std::printf("%s %s (%dx%d)\n", ok ? "saved" : "FAILED", file.c_str(), shot.width(),
              shot.height());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  fs::path out = argv[1];
  fs::create_directories(out);
  char scratchTemplate[] = "/tmp/velt-snapshots-XXXXXX";
  fs::path scratch = mkdtemp(scratchTemplate);

  velt::FileLocations locations = velt::findFileLocations();
  locations.settingsFolder = scratch / "settings";
  locations.configHome = scratch / "config";
  locations.runtimeDir = scratch;
  auto owned = std::make_unique<velt::FixedDeviceDirectory>();
  velt::FixedDeviceDirectory& devices = *owned;
  velt::Agent agent(locations, std::move(owned));

  velt::QtMainThread mainThread;
  velt::AppEnvironment env;
  env.preferredLanguage = std::getenv("VELT_SNAPSHOT_LANGUAGE") ?: "en_US";
  env.version = "1.0.0";
  env.buildNumber = "1";
  env.mainThread = &mainThread;
  int failures = 0;
  {
    velt::AppDelegate delegate(agent, env);
    if (!delegate.applicationDidFinishLaunching()) return 1;
    auto& window = delegate.configurationWindow();
    int rebuilds = 0;
    QObject::connect(&window, &velt::ConfigurationWindow::deviceShown, [&] { ++rebuilds; });
    auto waitRebuild = [&](int count) {
      QElapsedTimer timer;
      timer.start();
      while (rebuilds < count && timer.elapsed() < 5000) waitFor(20);
    };
    delegate.showConfig();
    waitRebuild(1);
    failures += !save(window.window(), out / "window-no-device.png");

    auto samples = sampleDevices(agent.modelCatalogue(), scratch);
    devices.setDevices({samples[0]});
    waitRebuild(2);
    failures += !save(window.window(), out / "window-one-device.png");

    devices.setDevices(samples);
    waitRebuild(3);
    failures += !save(window.window(), out / "window-two-devices.png");

    // A profile's table, named in the selector above the slots.
    window.addProfile("org.gnome.TextEditor");
    failures += !save(window.window(), out / "window-profile.png");
    window.removeShownProfile();

    // The recorder, over the window.
    velt::KeyboardStruct* panel = window.shortcutPanel();
    QTimer::singleShot(0, [&] {
      waitFor(300);
      QPixmap shot = panel->grab();
      bool ok = shot.save(QString::fromStdString((out / "shortcut-recorder.png").string()));
      std::printf("%s %s\n", ok ? "saved" : "FAILED", (out / "shortcut-recorder.png").c_str());
      failures += !ok;
      panel->close();
    });
    panel->record(0, 8, 12, window.window());
    delegate.applicationWillTerminate();
  }
  fs::remove_all(scratch);
  return failures == 0 ? 0 : 1;
}
