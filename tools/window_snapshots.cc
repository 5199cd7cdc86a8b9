// velt-window-snapshots OUTPUT_FOLDER [LANGUAGE...]: starts the agent's
// interface on a fixed device list and saves, for each language (en_US when
// none is named) in OUTPUT_FOLDER/LANGUAGE, pictures of the configuration
// window with no mouse, one mouse and two mice, of the profile selector with
// its list open, of an application's profile, of the dialog that adds one,
// and of the shortcut recorder. Fails when a text those pictures show has a
// character no installed font can draw. Run it under an X server (xvfb-run)
// with QT_SCALE_FACTOR set to check other scales.
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGlyphRun>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScreen>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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

// Applications to name in the selector and to offer in the dialog, with
// their names in the three languages, in place of the machine's own.
void writeApplications(const fs::path& dataHome) {
  struct Sample {
    const char* id;
    const char* names;
  };
  const Sample samples[] = {
      {"org.gnome.TextEditor",
       "Name=Text Editor\nName[ja]=テキストエディター\nName[zh_TW]=文字編輯器\n"},
      {"org.gnome.Calculator", "Name=Calculator\nName[ja]=電卓\nName[zh_TW]=計算機\n"},
      {"org.gnome.Nautilus", "Name=Files\nName[ja]=ファイル\nName[zh_TW]=檔案\n"},
      {"firefox-esr", "Name=Firefox ESR\n"},
  };
  fs::create_directories(dataHome / "applications");
  for (const Sample& sample : samples) {
    std::ofstream(dataHome / "applications" / (std::string(sample.id) + ".desktop"))
        << "[Desktop Entry]\nType=Application\nExec=true\n"
        << sample.names;
  }
}

// The texts a widget and the widgets in it show, each with the font it is
// drawn in.
std::vector<std::pair<QString, QFont>> shownTexts(QWidget* top) {
  std::vector<std::pair<QString, QFont>> texts;
  auto add = [&texts](QString text, const QFont& font) {
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      texts.emplace_back(line, font);
    }
  };
  QList<QWidget*> widgets = top->findChildren<QWidget*>();
  widgets.prepend(top);
  for (QWidget* w : widgets) {
    if (w != top && !w->isVisibleTo(top)) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      QString text = label->text();
      if (Qt::mightBeRichText(text)) text = QTextDocumentFragment::fromHtml(text).toPlainText();
      add(text, label->font());
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      add(button->text().remove(QLatin1Char('&')), button->font());
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) add(combo->itemText(i), combo->view()->font());
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
      add(line->text(), line->font());
      add(line->placeholderText(), line->font());
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) add(list->item(i)->text(), list->font());
    }
  }
  return texts;
}

// Whether a text of top comes out with a missing glyph (an empty box): Qt
// falls back through every installed font, and a character none of them has
// is drawn as glyph 0. Says which and how many.
bool missesGlyphs(QWidget* top, const std::string& picture) {
  std::vector<QString> boxed;
  for (const auto& [text, font] : shownTexts(top)) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const auto runs = layout.glyphRuns();
    if (std::any_of(runs.begin(), runs.end(),
                    [](const QGlyphRun& run) { return run.glyphIndexes().contains(0); })) {
      boxed.push_back(text);
    }
  }
  if (boxed.empty()) return false;
  std::printf(
      "MISSING GLYPHS in %s: %zu texts have characters no installed font draws, such as "
      "\"%s\"; install a font for the language's script (./dev test installs "
      "fonts-wqy-microhei)\n",
      picture.c_str(), boxed.size(), boxed.front().toUtf8().constData());
  return true;
}

bool saveShot(const QPixmap& shot, const fs::path& file) {
  bool ok = shot.save(QString::fromStdString(file.string()));
  std::printf("%s %s (%dx%d)\n", ok ? "saved" : "FAILED", file.c_str(), shot.width(),
              shot.height());
  return ok;
}

// Saves window's picture; false when it cannot be saved or a text in it
// misses glyphs.
bool save(QWidget* window, const fs::path& file) {
  window->raise();
  waitFor(400);  // badges finish moving
  QPixmap shot;
  if (QScreen* screen = window->screen()) shot = screen->grabWindow(window->winId());
  if (shot.isNull()) shot = window->grab();
  bool ok = saveShot(shot, file);
  return !missesGlyphs(window, file.filename().string()) && ok;
}

// The window with the selector's list open over it, shown as the screen
// shows both.
bool saveSelectorOpen(QWidget* window, QComboBox* selector, const fs::path& file) {
  selector->showPopup();
  waitFor(400);
  QWidget* list = selector->view()->window();
  QRect area = window->frameGeometry().united(list->geometry());
  QPixmap shot;
  if (QScreen* screen = window->screen()) {
    shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  }
  bool ok = !shot.isNull() && saveShot(shot, file);
  ok = !missesGlyphs(selector, file.filename().string()) && ok;
  selector->hidePopup();
  return ok;
}

// Chooses "Add application…" in the selector and saves the dialog it opens,
// then cancels it.
bool saveAddDialog(QComboBox* selector, const fs::path& file) {
  bool opened = false, ok = false;
  QTimer grab;
  grab.setSingleShot(true);
  QObject::connect(&grab, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    opened = true;
    ok = save(dialog, file);
    dialog->reject();
  });
  grab.start(0);
  emit selector->activated(selector->count() - 1);
  if (!opened) std::printf("FAILED %s: no dialog opened\n", file.c_str());
  return ok;
}

// One language's pictures in out; the number that failed.
int snapshotLanguage(const std::string& language, const fs::path& out, const fs::path& scratch) {
  fs::create_directories(out);
  fs::create_directories(scratch);
  velt::FileLocations locations = velt::findFileLocations();
  locations.settingsFolder = scratch / "settings";
  locations.configHome = scratch / "config";
  locations.runtimeDir = scratch;
  auto owned = std::make_unique<velt::FixedDeviceDirectory>();
  velt::FixedDeviceDirectory& devices = *owned;
  // The applications' names follow the messages' locale.
  ::setenv("LC_ALL", (language + ".UTF-8").c_str(), 1);
  velt::Agent agent(locations, std::move(owned));

  velt::QtMainThread mainThread;
  velt::AppEnvironment env;
  env.preferredLanguage = language;
  env.version = "1.0.0";
  env.buildNumber = "1";
  env.mainThread = &mainThread;
  int failures = 0;
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

  // A profile's table, named in the selector above the slots; the selector
  // open on all applications, the profile and "Add application…"; the
  // dialog that adds one.
  window.addProfile("org.gnome.TextEditor");
  window.setFunc(0, 15);  // Paste on the first slot
  failures += !save(window.window(), out / "window-profile.png");
  auto* selector = window.window()->findChild<QComboBox*>("profileList");
  if (!selector) {
    std::printf("FAILED: the window has no profile selector\n");
    ++failures;
  } else {
    failures += !saveSelectorOpen(window.window(), selector, out / "window-profile-selector.png");
    failures += !saveAddDialog(selector, out / "window-add-application.png");
  }
  window.removeShownProfile();

  // The recorder, over the window.
  velt::KeyboardStruct* panel = window.shortcutPanel();
  QTimer::singleShot(0, [&] {
    waitFor(300);
    QPixmap shot = panel->grab();
    failures += !saveShot(shot, out / "shortcut-recorder.png");
    failures += missesGlyphs(panel, "shortcut-recorder.png");
    panel->close();
  });
  panel->record(0, 8, 12, window.window());
  delegate.applicationWillTerminate();
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [LANGUAGE...]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const fs::path out = argv[1];
  std::vector<std::string> languages(argv + 2, argv + argc);
  if (languages.empty()) languages = {"en_US"};
  char scratchTemplate[] = "/tmp/velt-snapshots-XXXXXX";
  const fs::path scratch = mkdtemp(scratchTemplate);
  writeApplications(scratch / "share");
  ::setenv("XDG_DATA_HOME", (scratch / "share").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", (scratch / "none").c_str(), 1);

  int failures = 0;
  for (const std::string& language : languages) {
    failures += snapshotLanguage(language, out / language, scratch / language);
  }
  fs::remove_all(scratch);
  if (failures != 0) std::printf("%d pictures failed\n", failures);
  return failures == 0 ? 0 : 1;
}
