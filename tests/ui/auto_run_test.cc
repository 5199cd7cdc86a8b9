#include "ui/auto_run.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

constexpr char kTemplate[] =
    "[Desktop Entry]\nType=Application\nName=VELT Mouse Assistant\nExec=velt-mouse-assistant\n";

TEST(AutoRun, OnlyTheInstalledCopyCounts) {
  testing::TempDir dir;
  testing::writeFile(dir / "usr/bin/velt-mouse-assistant", "");
  fs::create_directory_symlink(dir / "usr/bin", dir / "bin");
  for (auto [folder, installed] :
       {std::pair{"usr/bin", true}, {"bin", true}, {"build/bin", false}, {"usr/bin/sub", false}}) {
    EXPECT_EQ(runsFromInstalledLocation(dir / folder / kExecutableName, dir / "usr/bin"), installed)
        << folder;
  }
}

TEST(AutoRun, WritesTheEntryOnceAndNeverOverwritesIt) {
  testing::TempDir dir;
  const auto source = dir / "resources/quorin.driver.agent.desktop";
  testing::writeFile(source, kTemplate);
  testing::CaptureLog log;
  const auto entry = dir / "config/autostart/quorin.driver.velt.desktop";
  setAutoRun(source, entry.parent_path());
  EXPECT_EQ(testing::readFile(entry), kTemplate);

  // The user turned it off; a later start leaves it so but still logs.
  testing::writeFile(entry, "[Desktop Entry]\nHidden=true\n");
  setAutoRun(source, entry.parent_path());
  EXPECT_EQ(testing::readFile(entry), "[Desktop Entry]\nHidden=true\n");
  EXPECT_EQ(log.count("create auto run ! "), 2u);

  // A missing template: nothing written, the line still logged.
  setAutoRun(dir / "nothing.desktop", dir / "other");
  EXPECT_FALSE(fs::exists(dir / "other/quorin.driver.velt.desktop"));
  EXPECT_EQ(log.count("create auto run ! "), 3u);
}

TEST(AutoRun, RemovesOnlyEntriesThatStartTheAgent) {
  testing::TempDir dir;
  auto autostart = dir.path();
  const struct {
    std::string name, text;
    bool stays;
  } files[] = {
      {"quorin.driver.velt.desktop", kTemplate, true},  // the one to keep
      {"old.desktop", "[Desktop Entry]\nName=VELT Mouse Assistant\n", false},
      {"path.desktop", "[Desktop Entry]\nExec=\"/opt/velt/bin/velt-mouse-assistant\" -x\n", false},
      {"other.desktop", "[Desktop Entry]\nExec=velt-mouse-assistant-helper\n", true},
      {"action.desktop", "[Desktop Entry]\n[Desktop Action x]\nName=VELT Mouse Assistant\n", true},
      {"notes.txt", kTemplate, true},
  };
  for (const auto& f : files) testing::writeFile(autostart / f.name, f.text);
  removeAutoRun(autostart, kAutostartEntry);
  for (const auto& f : files) EXPECT_EQ(fs::exists(autostart / f.name), f.stays) << f.name;

  removeAutoRun(autostart, "");
  EXPECT_FALSE(fs::exists(autostart / "quorin.driver.velt.desktop"));
  removeAutoRun(dir / "missing", "");  // no folder: nothing happens
}

struct FakeServiceManager : UserServiceManager {
  bool session = true;
  bool enableWorks = true;
  std::vector<std::string> enabled;
  bool runsGraphicalSession() override { return session; }
  bool enable(std::string_view unit) override {
    if (enableWorks) enabled.emplace_back(unit);
    return enableWorks;
  }
  bool disable(std::string_view) override { return true; }
};

TEST(AutoRun, TheUserUnitWhereTheServiceManagerRunsTheSessionElseTheEntry) {
  testing::TempDir dir;
  testing::writeFile(dir / "quorin.driver.agent.desktop", kTemplate);
  const auto unit = userUnitFile(dir / "usr");
  testing::writeFile(unit, "[Unit]\n");
  const auto autostart = dir / "autostart";
  const auto entry = autostart / kAutostartEntry;
  auto setUp = [&](FakeServiceManager& manager) {
    setUpAutoRun(dir / "quorin.driver.agent.desktop", autostart, unit, manager);
  };

  // A session the service manager runs: the unit, and no entry beside it.
  FakeServiceManager managed;
  testing::writeFile(entry, kTemplate);
  setUp(managed);
  EXPECT_EQ(managed.enabled, std::vector<std::string>{"velt-mouse-assistant.service"});
  EXPECT_FALSE(fs::exists(entry));

  // Not run by it, or it refuses: the entry.
  FakeServiceManager unmanaged;
  unmanaged.session = false;
  setUp(unmanaged);
  EXPECT_TRUE(unmanaged.enabled.empty());
  EXPECT_EQ(testing::readFile(entry), kTemplate);
  FakeServiceManager refusing;
  refusing.enableWorks = false;
  fs::remove(entry);
  setUp(refusing);
  EXPECT_TRUE(fs::exists(entry));

  // The user turned the entry off: that choice stands.
  for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
    const std::string text = std::string(kTemplate) + off + "\n";
    testing::writeFile(entry, text);
    FakeServiceManager again;
    setUp(again);
    EXPECT_TRUE(again.enabled.empty()) << off;
    EXPECT_EQ(testing::readFile(entry), text);
  }
}

TEST(Uninstall, RemovesWhatItMayAndIgnoresTheRest) {
  testing::TempDir dir;
  auto files = installedFiles(dir / "prefix");
  for (const auto& f : files) {
    testing::writeFile(
        f.filename() == "velt-mouse-assistant" && f.parent_path().filename() == "share"
            ? f / "model/a/model.json"
            : f,
        "x");
  }
  testing::writeFile(dir / "prefix/bin/other-program", "x");
  fs::permissions(dir / "prefix/lib/udev/rules.d", fs::perms::owner_read | fs::perms::owner_exec);

  removeInstalledFiles(files);
  EXPECT_FALSE(fs::exists(dir / "prefix/bin/velt-mouse-assistant"));
  EXPECT_FALSE(fs::exists(dir / "prefix/share/velt-mouse-assistant"));
  EXPECT_TRUE(fs::exists(dir / "prefix/bin/other-program"));
  if (geteuid() != 0) {
    EXPECT_TRUE(fs::exists(dir / "prefix/lib/udev/rules.d/70-velt-mouse-assistant.rules"));
  }
}

}  // namespace
}  // namespace velt
