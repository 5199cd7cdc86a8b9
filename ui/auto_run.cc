#include "ui/auto_run.h"

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "actions/desktop_commands.h"
#include "core/log.h"
#include "ui/interface_texts.h"

namespace velt {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::string readSmallFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(64 * 1024, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

}  // namespace

bool runsFromInstalledLocation(const std::filesystem::path& executable,
                               const std::filesystem::path& installedBinDir) {
  std::error_code ec1, ec2;
  auto here = std::filesystem::weakly_canonical(executable, ec1).parent_path();
  auto installed = std::filesystem::weakly_canonical(installedBinDir, ec2);
  return !ec1 && !ec2 && !here.empty() && here == installed;
}

namespace {

// Calls found with each key and value of the entry's main group until it
// returns true; whether one did.
bool anyMainGroupKey(std::string_view desktopEntry,
                     const std::function<bool(std::string_view, std::string_view)>& found) {
  bool inMainGroup = false;
  std::istringstream lines{std::string(desktopEntry)};
  for (std::string raw; std::getline(lines, raw);) {
    std::string_view line = trimmed(raw);
    if (line.starts_with('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    auto eq = line.find('=');
    if (!inMainGroup || eq == std::string_view::npos) continue;
    if (found(trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1)))) return true;
  }
  return false;
}

}  // namespace

bool autostartEntryCarriesOurName(std::string_view desktopEntry) {
  return anyMainGroupKey(desktopEntry, [](std::string_view key, std::string_view value) {
    if (key == "Name" && value == kProductName) return true;
    if (key != "Exec") return false;
    std::string_view program = value.substr(0, value.find(' '));
    if (!program.empty() && (program.front() == '"' || program.front() == '\'')) {
      program = program.substr(1, program.find(program.front(), 1) - 1);
    }
    return std::filesystem::path(program).filename() == kExecutableName;
  });
}

bool autostartEntryTurnedOff(std::string_view desktopEntry) {
  return anyMainGroupKey(desktopEntry, [](std::string_view key, std::string_view value) {
    return (key == "Hidden" && value == "true") ||
           (key == "X-GNOME-Autostart-enabled" && value == "false");
  });
}

void removeAutoRun(const std::filesystem::path& folder, std::string_view keep) {
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(folder, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto& path = it->path();
    if (path.extension() != ".desktop" || path.filename() == keep) continue;
    if (!it->is_regular_file(ec)) continue;
    if (autostartEntryCarriesOurName(readSmallFile(path))) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  }
}

void setAutoRun(const std::filesystem::path& templateFile, const std::filesystem::path& folder) {
  auto destination = folder / kAutostartEntry;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::filesystem::copy_file(templateFile, destination, std::filesystem::copy_options::none, ec);
  logFormat("create auto run ! %s  -->  %s", templateFile.c_str(), destination.c_str());
}

void setUpAutoRun(const std::filesystem::path& templateFile,
                  const std::filesystem::path& autostartFolder,
                  const std::filesystem::path& unitFile, UserServiceManager& manager) {
  std::error_code ec;
  const auto entry = autostartFolder / kAutostartEntry;
  const bool turnedOff =
      std::filesystem::exists(entry, ec) && autostartEntryTurnedOff(readSmallFile(entry));
  if (!turnedOff && std::filesystem::exists(unitFile, ec) && manager.runsGraphicalSession() &&
      manager.enable(kUserUnit)) {
    removeAutoRun(autostartFolder, "");
    logFormat("auto run: %s starts the agent with the graphical session",
              std::string(kUserUnit).c_str());
    return;
  }
  removeAutoRun(autostartFolder, kAutostartEntry);
  setAutoRun(templateFile, autostartFolder);
}

std::filesystem::path userUnitFile(const std::filesystem::path& prefix) {
  return prefix / "lib/systemd/user" / kUserUnit;
}

std::vector<std::filesystem::path> installedFiles(const std::filesystem::path& prefix) {
  const std::string name(kExecutableName);
  return {
      prefix / "bin" / name,
      prefix / "share" / name,
      prefix / "share/applications" / "quorin.driver.velt.desktop",
      prefix / "share/icons/hicolor/scalable/apps" / (name + ".svg"),
      prefix / "share/icons/hicolor/256x256/apps" / (name + ".png"),
      prefix / "lib/udev/rules.d" / ("70-" + name + ".rules"),
      prefix / "lib/modules-load.d" / (name + ".conf"),
      userUnitFile(prefix),
      prefix / "share/gnome-shell/extensions" / kShellExtensionUuid,
      prefix / "share/gnome-shell/extensions" / kShellExtensionModuleUuid,
      prefix / "share/man/man1" / (name + ".1"),
      prefix / "share/bash-completion/completions" / name,
      prefix / "share/metainfo" / "quorin.driver.velt.metainfo.xml",
  };
}

void removeInstalledFiles(const std::vector<std::filesystem::path>& files) {
  for (const auto& file : files) {
    std::error_code ignored;
    std::filesystem::remove_all(file, ignored);
  }
}

}  // namespace velt
