// Installs the build into a staging folder and checks what lands there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "device/model_catalogue.h"
#include "tests/support/test_support.h"
#include "ui/auto_run.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

class InstallTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stage_ = new testing::TempDir;
    std::string command = "DESTDIR='" + stage_->path().string() +
                          "' '" VELT_CMAKE_COMMAND "' --install '" VELT_BINARY_DIR
                          "' --prefix /usr > '" +
                          (stage_->path() / "install.log").string() + "' 2>&1";
    status_ = std::system(command.c_str());
  }
  static void TearDownTestSuite() {
    delete stage_;
    stage_ = nullptr;
  }
  fs::path usr() const { return stage_->path() / "usr"; }

  static testing::TempDir* stage_;
  static int status_;
};
testing::TempDir* InstallTree::stage_ = nullptr;
int InstallTree::status_ = -1;

TEST_F(InstallTree, HoldsExactlyWhatUninstallRemoves) {
  ASSERT_EQ(status_, 0) << testing::readFile(stage_->path() / "install.log");
  auto files = installedFiles(usr());
  for (const auto& f : files) EXPECT_TRUE(fs::exists(f)) << f;
  EXPECT_TRUE(fs::is_directory(usr() / "share/velt-mouse-assistant"));
  EXPECT_EQ(fs::status(usr() / "bin/velt-mouse-assistant").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);

  // Nothing is installed that uninstall would leave behind.
  for (auto it = fs::recursive_directory_iterator(usr()); it != fs::end(it); ++it) {
    if (it->is_directory()) continue;
    bool covered = false;
    for (const auto& f : files) {
      auto rel = it->path().lexically_relative(f);
      covered |= !rel.empty() && *rel.begin() != "..";
    }
    EXPECT_TRUE(covered) << it->path();
  }
}

TEST_F(InstallTree, ShipsTheResourcesTheAgentReads) {
  ASSERT_EQ(status_, 0);
  auto data = usr() / "share/velt-mouse-assistant";
  for (const char* f : {"button.plist", "quorin.driver.agent.desktop", "language.json",
                        "appicon_ss2.png", "appicon_ss2_gray.png", "skin/image/num1.png",
                        "skin/image/num6.png", "skin/image/logo.png"}) {
    EXPECT_TRUE(fs::is_regular_file(data / f)) << f;
  }
  testing::CaptureLog log;
  auto catalogue = loadModelCatalogue(data / "model");
  EXPECT_GE(catalogue.size(), 1u);
  EXPECT_EQ(log.lines().size(), 0u);
  EXPECT_TRUE(autostartEntryCarriesOurName(testing::readFile(data / kAutostartTemplate)));
  auto entry = testing::readFile(usr() / "share/applications/quorin.driver.velt.desktop");
  EXPECT_NE(entry.find("Exec=/usr/bin/velt-mouse-assistant\n"), std::string::npos);
  EXPECT_NE(entry.find("X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n"),
            std::string::npos);
  EXPECT_NE(entry.find("Icon=velt-mouse-assistant\n"), std::string::npos);
}

TEST_F(InstallTree, DeviceRulesCoverEveryShippedModel) {
  ASSERT_EQ(status_, 0);
  std::string rules = testing::readFile(usr() / "lib/udev/rules.d/70-velt-mouse-assistant.rules");
  auto catalogue = loadModelCatalogue(usr() / "share/velt-mouse-assistant/model");
  ASSERT_FALSE(catalogue.empty());
  for (const auto& [name, model] : catalogue) {
    char id[32];
    std::snprintf(id, sizeof id, "*:%04X:%04X.*", model.usbVid, model.usbPid);
    for (const char* subsystem : {"SUBSYSTEM==\"hidraw\", KERNELS==\"",
                                  "SUBSYSTEM==\"input\", KERNEL==\"event*\", KERNELS==\""}) {
      EXPECT_NE(rules.find(std::string(subsystem) + id + "\", ENV{VELT_MOUSE}=\"1\""),
                std::string::npos)
          << name << " " << subsystem;
    }
  }
  EXPECT_NE(rules.find("ENV{VELT_MOUSE}==\"1\", TAG+=\"uaccess\""), std::string::npos);
  EXPECT_NE(rules.find("KERNEL==\"uinput\", SUBSYSTEM==\"misc\""), std::string::npos);
  std::istringstream lines(rules);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find("MODE="), std::string::npos) << "no world access: " << line;
  }
  EXPECT_EQ(testing::readFile(usr() / "lib/modules-load.d/velt-mouse-assistant.conf")
                    .find("\nuinput\n") != std::string::npos,
            true);
}

}  // namespace
}  // namespace velt
