#include "core/desktop_entries.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::CaptureLog;
using testing::TempDir;
using testing::writeFile;

std::string entry(std::string_view body) {
  return "# comment\n[Desktop Entry]\nType=Application\n" + std::string(body) +
         "\n[Desktop Action new]\nName=Other\n";
}

TEST(DesktopEntries, FolderOrderIdsLanguagesAndBrokenFiles) {
  TempDir home;
  const auto user = home / "user/applications", system = home / "system/applications";
  writeFile(user / "firefox-esr.desktop", entry("Name=Mine\nIcon=/icons/ff.png"));
  writeFile(system / "firefox-esr.desktop", entry("Name=System's"));
  writeFile(user / "gone.desktop", entry("Name=Gone\nHidden=true"));
  writeFile(system / "gone.desktop", entry("Name=Still here"));
  writeFile(system / "kde4/okular.desktop",
            entry("Name=Okular\nName[de]=Okular DE\nName[de_AT]=Okular AT\nStartupWMClass=okular"));
  writeFile(system / "menu.desktop", "[Desktop Entry]\nType=Directory\nName=Menu\n");
  writeFile(system / "helper.desktop", entry("Name= Esc\\saped \nNoDisplay=true"));
  writeFile(system / "noname.desktop", entry(""));
  writeFile(system / "junk.desktop", std::string("\x7f\x45LF\0\1\2", 7));
  writeFile(system / "big.desktop", entry(std::string(kMaxDesktopEntryBytes, 'x')));
  writeFile(system / "odd id.desktop", entry("Name=Odd"));
  writeFile(system / "readme.txt", "not an entry");

  CaptureLog log;
  const DesktopEntries got =
      readDesktopEntries({home / "missing/applications", user, system}, "de_AT.UTF-8@euro");
  std::vector<std::string> ids;
  for (const DesktopEntry& e : got.entries) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"firefox-esr", "helper", "kde4-okular", "noname"}));
  EXPECT_EQ(got.find("firefox-esr")->name, "Mine");
  EXPECT_EQ(got.find("firefox-esr")->icon, "/icons/ff.png");
  EXPECT_EQ(got.find("kde4-okular")->name, "Okular AT");
  EXPECT_EQ(got.find("helper")->name, "Esc aped");
  EXPECT_FALSE(got.find("helper")->listed);
  EXPECT_EQ(got.find("noname")->name, "noname");
  EXPECT_EQ(got.find("gone"), nullptr);
  EXPECT_EQ(log.count("junk.desktop"), 1u);
  EXPECT_EQ(log.count("big.desktop"), 1u);
  EXPECT_EQ(log.count("odd id.desktop"), 1u);

  EXPECT_EQ(readDesktopEntries({system}, "de").find("kde4-okular")->name, "Okular DE");
  EXPECT_EQ(readDesktopEntries({system}, "C").find("kde4-okular")->name, "Okular");
}

TEST(DesktopEntries, FoldersFromTheEnvironment) {
  using P = std::vector<std::filesystem::path>;
  EXPECT_EQ(applicationFolders(nullptr, nullptr, "/home/u"),
            (P{"/home/u/.local/share/applications", "/usr/local/share/applications",
               "/usr/share/applications"}));
  EXPECT_EQ(applicationFolders("/d", "relative:/a::/a:/b", "/home/u"),
            (P{"/d/applications", "/a/applications", "/b/applications"}));
}

TEST(DesktopEntries, WindowClassesMapToIds) {
  DesktopEntries entries;
  entries.entries = {{"libreoffice-impress", "Impress", "", "libreoffice-impress", true},
                     {"org.gnome.TextEditor", "Text Editor", "", "", true},
                     {"org.kde.okular", "Okular", "", "", true},
                     {"vlc", "VLC", "", "", true}};
  EXPECT_EQ(applicationIdForWindowClass(entries, "soffice", "libreoffice-impress"),
            "libreoffice-impress");
  EXPECT_EQ(applicationIdForWindowClass(entries, "vlc", "Vlc"), "vlc");
  EXPECT_EQ(applicationIdForWindowClass(entries, "okular", "okular"), "org.kde.okular");
  EXPECT_EQ(applicationIdForWindowClass(entries, "x", "org.gnome.TextEditor.desktop"),
            "org.gnome.TextEditor");
  EXPECT_EQ(applicationIdForWindowClass(entries, "xterm", "XTerm"), "XTerm");
  EXPECT_EQ(applicationIdForWindowClass(entries, "xterm", ""), "xterm");
}

}  // namespace
}  // namespace velt
