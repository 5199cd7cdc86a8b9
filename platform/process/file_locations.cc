#include "platform/process/file_locations.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velt {
namespace {

std::filesystem::path fromQt(const QString& s) {
  return std::filesystem::path(s.toStdString());
}

std::filesystem::path envPath(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::filesystem::path(v) : std::filesystem::path();
}

// A session started without HOME (some service managers) still has a home.
std::filesystem::path homeFromPasswordDatabase() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || !*found->pw_dir) {
    return "/";
  }
  return found->pw_dir;
}

}  // namespace

std::string privateFolderProblem(const std::filesystem::path& folder, bool create) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT && create) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  }
  if (lstat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "a symbolic link, not a folder";
  if (!S_ISDIR(st.st_mode)) return "not a folder";
  if (st.st_uid != geteuid()) return "owned by user " + std::to_string(st.st_uid);
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return "writable by other users";
  return {};
}

FileLocations findFileLocations() {
  FileLocations l;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  l.resources = (exe.parent_path().parent_path() / "share" / "velt-mouse-assistant");

  std::filesystem::path home = envPath("HOME");
  std::filesystem::path documents;
  if (home.empty()) {
    // Qt would look for the documents folder under / then.
    home = homeFromPasswordDatabase();
  } else {
    documents = fromQt(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
  }
  if (documents.empty()) documents = home / "Documents";
  l.settingsFolder = documents / std::string(kApplicationId);

  l.configHome = envPath("XDG_CONFIG_HOME");
  if (l.configHome.empty()) l.configHome = home / ".config";
  l.runtimeDir = envPath("XDG_RUNTIME_DIR");
  if (l.runtimeDir.empty() || !l.runtimeDir.is_absolute() ||
      !privateFolderProblem(l.runtimeDir, false).empty()) {
    std::filesystem::path temporary = std::filesystem::temp_directory_path(ec);
    if (ec) temporary = "/tmp";
    l.runtimeDir = temporary / ("velt-mouse-assistant-" + std::to_string(geteuid()));
  }
  return l;
}

}  // namespace velt
