// The settings store against any file: load, save, load again, and the second
// load must give exactly what the first one gave and the save wrote. Hostile
// files must neither exhaust memory nor cost the user the choices they saved.
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "core/settings_store.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using velt::Settings;

std::filesystem::path& folder() {
  static std::filesystem::path path = [] {
    // Saving syncs the file; in memory that costs nothing.
    std::error_code ec;
    const auto base = std::filesystem::is_directory("/dev/shm", ec)
                          ? std::filesystem::path("/dev/shm")
                          : std::filesystem::temp_directory_path();
    std::string templ = (base / "velt-fuzz-XXXXXX").string();
    const char* made = mkdtemp(templ.data());
    if (!made) velt::fuzz::fail("no temporary folder");
    std::atexit([] { std::filesystem::remove_all(folder()); });
    return std::filesystem::path(made);
  }();
  return path;
}

std::array<int32_t, 22> values(const Settings& s) {
  std::array<int32_t, 22> v{};
  v[0] = s.spotlightSize.load();
  for (int i = 0; i < 4; ++i) {
    const auto a = s.StandardButtonAssignments[1 + i].load();
    v[1 + i] = a.code;
    v[8 + i] = a.op1;
    v[15 + i] = a.op2;
  }
  for (int i = 0; i < 3; ++i) {
    const auto a = s.ExtraButtonAssignments[i].load();
    v[5 + i] = a.code;
    v[12 + i] = a.op1;
    v[19 + i] = a.op2;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::QuietLog quiet;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder(), ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
  const auto file = folder() / velt::kSettingsFileName;
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  Settings first;
  velt::Profiles firstProfiles;
  velt::SettingsStore store(first, folder(), folder() / "no-default.plist");
  store.setProfiles(&firstProfiles);
  store.loadSettings();
  const auto loaded = values(first);
  store.saveSettings();

  Settings second;
  velt::Profiles secondProfiles;
  velt::SettingsStore again(second, folder(), folder() / "no-default.plist");
  again.setProfiles(&secondProfiles);
  again.loadSettings();
  velt::fuzz::check(values(second) == loaded, "the saved settings read back differently");
  velt::fuzz::check(secondProfiles.list() == firstProfiles.list(),
                    "the saved profiles read back differently");
  velt::fuzz::check(second.interceptMask.load() == first.interceptMask.load() &&
                        second.hidButtonMask.load() == first.hidButtonMask.load(),
                    "the masks differ after a save");
  return 0;
}
