#include "core/desktop_entries.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "core/log.h"
#include "core/profiles.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A string value with its escapes (\s \n \t \r \\) undone.
std::string unescape(std::string_view v) {
  std::string out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    switch (v[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += v[i];
        break;
    }
  }
  return out;
}

// The Name[...] keys to try for locale, best first: lang_COUNTRY@MODIFIER,
// lang_COUNTRY, lang@MODIFIER, lang.
std::vector<std::string> nameKeys(std::string_view locale) {
  std::string_view modifier;
  if (size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at);
    locale = locale.substr(0, at);
  }
  if (size_t dot = locale.find('.'); dot != std::string_view::npos) locale = locale.substr(0, dot);
  std::string_view lang = locale.substr(0, locale.find('_'));
  std::vector<std::string> keys;
  auto add = [&keys](std::string_view a, std::string_view b) {
    std::string key = "Name[" + std::string(a) + std::string(b) + "]";
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  };
  if (locale.empty() || locale == "C" || locale == "POSIX") return keys;
  if (!modifier.empty()) add(locale, modifier);
  add(locale, "");
  if (!modifier.empty()) add(lang, modifier);
  add(lang, "");
  return keys;
}

struct Parsed {
  bool application = false;
  bool hidden = false;
  DesktopEntry entry;
};

// The [Desktop Entry] group of text; nullopt with why when it has none.
std::optional<Parsed> parse(std::string_view text, const std::vector<std::string>& keys,
                            std::string& why) {
  std::map<std::string, std::string, std::less<>> values;
  bool inGroup = false, seenGroup = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (seenGroup) break;  // only the first group is the entry's
      if (line != "[Desktop Entry]") {
        why = "first group is not [Desktop Entry]";
        return std::nullopt;
      }
      inGroup = seenGroup = true;
      continue;
    }
    if (!inGroup) {
      why = "text before [Desktop Entry]";
      return std::nullopt;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    values.emplace(std::string(trim(line.substr(0, eq))), unescape(trim(line.substr(eq + 1))));
  }
  if (!seenGroup) {
    why = "no [Desktop Entry] group";
    return std::nullopt;
  }
  auto value = [&values](std::string_view key) -> std::string {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  Parsed p;
  p.application = value("Type") == "Application";
  p.hidden = value("Hidden") == "true";
  p.entry.listed = value("NoDisplay") != "true";
  p.entry.name = value("Name");
  for (const std::string& key : keys) {
    if (auto it = values.find(key); it != values.end() && !it->second.empty()) {
      p.entry.name = it->second;
      break;
    }
  }
  p.entry.icon = value("Icon");
  p.entry.startupWMClass = value("StartupWMClass");
  return p;
}

// The id of file below folder, "kde4/okular.desktop" giving "kde4-okular",
// or empty when file is no desktop entry.
std::string entryId(const fs::path& folder, const fs::path& file) {
  std::string rel = file.lexically_relative(folder).generic_string();
  constexpr std::string_view kSuffix = ".desktop";
  if (rel.size() <= kSuffix.size() || !rel.ends_with(kSuffix)) return {};
  rel.resize(rel.size() - kSuffix.size());
  std::replace(rel.begin(), rel.end(), '/', '-');
  return rel;
}

}  // namespace

const DesktopEntry* DesktopEntries::find(std::string_view id) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), id,
                             [](const DesktopEntry& e, std::string_view v) { return e.id < v; });
  return it != entries.end() && it->id == id ? &*it : nullptr;
}

std::vector<fs::path> applicationFolders(const char* dataHome, const char* dataDirs,
                                         const char* home) {
  std::vector<fs::path> folders;
  auto add = [&folders](std::string_view dir) {
    if (dir.empty() || dir.front() != '/') return;
    fs::path p = fs::path(dir) / "applications";
    if (std::find(folders.begin(), folders.end(), p) == folders.end()) folders.push_back(p);
  };
  if (dataHome && *dataHome)
    add(dataHome);
  else if (home && *home == '/')
    add((fs::path(home) / ".local/share").string());
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    add(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
  }
  return folders;
}

DesktopEntries readDesktopEntries(const std::vector<fs::path>& folders, std::string_view locale) {
  const std::vector<std::string> keys = nameKeys(locale);
  std::set<std::string> claimed;  // ids taken by an earlier folder, Hidden ones too
  DesktopEntries result;
  size_t looked = 0;
  bool full = false;
  for (const fs::path& folder : folders) {
    if (full) break;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (++looked > 10 * kMaxDesktopEntries || claimed.size() >= kMaxDesktopEntries) {
        logFormat("desktop entries: more than %zu, the rest passed over", kMaxDesktopEntries);
        full = true;
        break;
      }
      const fs::path& file = it->path();
      std::string id = entryId(folder, file);
      std::error_code fileEc;
      if (id.empty() || !it->is_regular_file(fileEc) || claimed.count(id)) continue;
      if (!isApplicationId(id)) {
        logFormat("desktop entry %s: \"%s\" is no usable id", file.c_str(), id.c_str());
        continue;
      }
      const uintmax_t size = fs::file_size(file, fileEc);
      if (fileEc || size > kMaxDesktopEntryBytes) {
        logFormat("desktop entry %s: %s", file.c_str(),
                  fileEc ? fileEc.message().c_str() : "larger than 64 KiB");
        continue;
      }
      std::ifstream in(file, std::ios::binary);
      std::string text(static_cast<size_t>(size), '\0');
      if (!in.read(text.data(), static_cast<std::streamsize>(size))) {
        logFormat("desktop entry %s: cannot be read", file.c_str());
        continue;
      }
      std::string why;
      std::optional<Parsed> parsed = parse(text, keys, why);
      if (!parsed) {
        logFormat("desktop entry %s: %s", file.c_str(), why.c_str());
        continue;
      }
      claimed.insert(id);
      if (parsed->hidden || !parsed->application) continue;
      parsed->entry.id = std::move(id);
      if (parsed->entry.name.empty()) parsed->entry.name = parsed->entry.id;
      result.entries.push_back(std::move(parsed->entry));
    }
  }
  std::sort(result.entries.begin(), result.entries.end(),
            [](const DesktopEntry& a, const DesktopEntry& b) { return a.id < b.id; });
  return result;
}

std::string applicationIdForWindowClass(const DesktopEntries& entries, std::string_view instance,
                                        std::string_view className) {
  const std::string_view names[] = {className, instance};
  for (std::string_view name : names) {
    if (name.empty()) continue;
    for (const DesktopEntry& e : entries.entries)
      if (equalIgnoringCase(e.startupWMClass, name)) return e.id;
  }
  for (std::string_view name : names) {
    if (name.ends_with(".desktop")) name.remove_suffix(8);
    if (name.empty()) continue;
    for (const DesktopEntry& e : entries.entries)
      if (equalIgnoringCase(e.id, name)) return e.id;
    for (const DesktopEntry& e : entries.entries) {
      const size_t dot = e.id.rfind('.');
      if (dot != std::string::npos &&
          equalIgnoringCase(std::string_view(e.id).substr(dot + 1), name))
        return e.id;
    }
  }
  return std::string(className.empty() ? instance : className);
}

}  // namespace velt
