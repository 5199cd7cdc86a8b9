// The installed applications as their desktop entries describe them: the id
// that names an application on every desktop, its name in the user's
// language, its icon and the window class its windows carry. Read from the
// "applications" folders of XDG_DATA_HOME and XDG_DATA_DIRS; a broken,
// oversized or unreadable file is logged and passed over.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velt {

// Bounds of a read: a file beyond kMaxDesktopEntryBytes is passed over, and
// no more than kMaxDesktopEntries applications (or ten times as many folder
// entries) are looked at.
inline constexpr size_t kMaxDesktopEntryBytes = 64 * 1024;
inline constexpr size_t kMaxDesktopEntries = 4096;

struct DesktopEntry {
  std::string id;    // "org.gnome.TextEditor": the file's id without ".desktop"
  std::string name;  // Name, localised where the entry has the user's language
  std::string icon;  // Icon: a theme icon name or an absolute path; may be empty
  std::string startupWMClass;
  bool listed = true;  // false: NoDisplay, kept for names and window classes
};

struct DesktopEntries {
  std::vector<DesktopEntry> entries;  // by id
  const DesktopEntry* find(std::string_view id) const;
};

// The "applications" folders to read, most important first. Each argument
// is the environment variable's value or nullptr; relative paths are ignored
// as the base directory rules ask.
std::vector<std::filesystem::path> applicationFolders(const char* dataHome, const char* dataDirs,
                                                      const char* home);

// Reads the Application entries of folders (subfolders become '-' in the
// id; the first folder that has an id wins, also when its entry is Hidden,
// which removes the application). locale: as LC_MESSAGES gives it,
// "de_DE.UTF-8" or empty.
DesktopEntries readDesktopEntries(const std::vector<std::filesystem::path>& folders,
                                  std::string_view locale);

// The desktop entry id of an X11 window by its WM_CLASS: the entry whose
// StartupWMClass is the class (or the instance), else an id equal to the
// class or instance, ignoring case and a ".desktop" ending, or whose last
// part of a reverse-DNS id is it, else the class itself.
std::string applicationIdForWindowClass(const DesktopEntries& entries, std::string_view instance,
                                        std::string_view className);

}  // namespace velt
