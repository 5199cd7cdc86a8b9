#include "platform/file_locations.h"

#include <QStandardPaths>
#include <QString>
#include <cstdlib>

namespace velt {
namespace {

std::filesystem::path fromQt(const QString& s) {
  return std::filesystem::path(s.toStdString());
}

std::filesystem::path envPath(const char* name, const std::filesystem::path& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::filesystem::path(v) : fallback;
}

}  // namespace

FileLocations findFileLocations() {
  FileLocations l;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  l.resources = (exe.parent_path().parent_path() / "share" / "velt-mouse-assistant");

  auto documents = fromQt(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
  if (documents.empty()) documents = envPath("HOME", "/tmp") / "Documents";
  l.settingsFolder = documents / std::string(kApplicationId);

  auto home = envPath("HOME", "/tmp");
  l.configHome = envPath("XDG_CONFIG_HOME", home / ".config");
  l.runtimeDir = fromQt(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
  if (l.runtimeDir.empty()) l.runtimeDir = std::filesystem::temp_directory_path();
  return l;
}

}  // namespace velt
