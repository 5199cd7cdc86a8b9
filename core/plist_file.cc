#include "core/plist_file.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "core/number_text.h"
#include "core/plist_bounds.h"

namespace velt {
namespace {

// A string node's text. libplist keeps the length a binary file gave, but
// its copy ends at the first NUL, which may come sooner.
std::string_view stringText(const char* text, uint64_t length) {
  return std::string_view(text, strnlen(text, static_cast<size_t>(length)));
}

// Settings files are a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxPlistBytes = 1 << 20;

std::string errnoText(int error) {
  return std::strerror(error);
}

enum class ReadBytes { Ok, Failed, TooLarge };

// The whole file, up to the limit.
ReadBytes readSmallFile(const std::filesystem::path& path, std::string& bytes,
                        std::string& reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reason = errnoText(errno);
    return ReadBytes::Failed;
  }
  char chunk[8192];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxPlistBytes) {
      reason = "file too large";
      return ReadBytes::TooLarge;
    }
  }
  if (in.bad()) {
    reason = "read error";
    return ReadBytes::Failed;
  }
  return ReadBytes::Ok;
}

int32_t clampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// The same limits for a tree already read: XML shares nothing, but a file of
// deeply nested or very many values would be written back far larger than it
// was read (the XML indentation grows with the depth), and past what the
// next start accepts. Walks without recursion.
bool treeWithinLimits(plist_t root, const PlistLimits& limits, std::string& reason) {
  struct Item {
    plist_t node;
    uint32_t depth;
  };
  std::vector<Item> stack{{root, 0}};
  uint64_t nodes = 0;
  uint64_t payload = 0;
  while (!stack.empty()) {
    const Item item = stack.back();
    stack.pop_back();
    if (item.depth > limits.depth) {
      reason = "values nested more than " + std::to_string(limits.depth) + " deep";
      return false;
    }
    uint64_t length = 0;
    switch (plist_get_node_type(item.node)) {
      case PLIST_ARRAY:
        for (uint32_t i = 0, n = plist_array_get_size(item.node); i < n; ++i) {
          stack.push_back({plist_array_get_item(item.node, i), item.depth + 1});
        }
        break;
      case PLIST_DICT: {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(item.node, &it);
        for (uint32_t i = 0, n = plist_dict_get_size(item.node); i < n && it; ++i) {
          char* key = nullptr;
          plist_t value = nullptr;
          plist_dict_next_item(item.node, it, &key, &value);
          if (key) payload += std::strlen(key);
          std::free(key);
          ++nodes;
          if (value) stack.push_back({value, item.depth + 1});
        }
        std::free(it);
        break;
      }
      case PLIST_STRING:
        plist_get_string_ptr(item.node, &length);
        break;
      case PLIST_DATA:
        plist_get_data_ptr(item.node, &length);
        break;
      default:
        break;
    }
    payload += length;
    if (++nodes > limits.nodes) {
      reason = "holds more than " + std::to_string(limits.nodes) + " values";
      return false;
    }
    if (payload > limits.payloadBytes) {
      reason = "holds more than " + std::to_string(limits.payloadBytes) + " bytes";
      return false;
    }
  }
  return true;
}

// A dictionary that names a key more than once keeps the last value under it,
// as the XML reader does, and the key only once. Otherwise a save would change
// one copy and write both, and the next load would read the other.
plist_t withoutRepeatedKeys(plist_t dict) {
  const uint32_t size = plist_dict_get_size(dict);
  plist_t unique = plist_new_dict();
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(dict, &it);
  for (uint32_t i = 0; i < size && it; ++i) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, it, &key, &value);
    if (key && value) plist_dict_set_item(unique, key, plist_copy(value));
    std::free(key);
  }
  std::free(it);
  if (plist_dict_get_size(unique) == size) {
    plist_free(unique);
    return dict;
  }
  plist_free(dict);
  return unique;
}

}  // namespace

PlistDictionary::PlistDictionary() : node_(plist_new_dict()) {}
PlistDictionary::~PlistDictionary() {
  if (node_) plist_free(static_cast<plist_t>(node_));
}
PlistDictionary::PlistDictionary(PlistDictionary&& other) noexcept : node_(other.node_) {
  other.node_ = nullptr;
}
PlistDictionary& PlistDictionary::operator=(PlistDictionary&& other) noexcept {
  if (this != &other) {
    if (node_) plist_free(static_cast<plist_t>(node_));
    node_ = other.node_;
    other.node_ = nullptr;
  }
  return *this;
}

PlistDictionary::ReadResult PlistDictionary::read(const std::filesystem::path& path) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory) {
      return {Status::Unreadable, PlistDictionary(nullptr), ec.message()};
    }
    return {Status::Missing, PlistDictionary(nullptr), "no such file"};
  }
  if (!std::filesystem::is_regular_file(status)) {
    return {Status::Unreadable, PlistDictionary(nullptr), "not a regular file"};
  }
  std::string bytes, reason;
  switch (readSmallFile(path, bytes, reason)) {
    case ReadBytes::Ok:
      break;
    case ReadBytes::Failed:
      return {Status::Unreadable, PlistDictionary(nullptr), reason};
    case ReadBytes::TooLarge:
      return {Status::Damaged, PlistDictionary(nullptr), reason};
  }
  if (bytes.empty()) return {Status::Unreadable, PlistDictionary(nullptr), "empty file"};

  std::string tooLarge;
  if (!binaryPlistWithinLimits(bytes, PlistLimits{}, tooLarge)) {
    return {Status::Damaged, PlistDictionary(nullptr), tooLarge};
  }

  plist_t root = nullptr;
#ifdef VELT_PLIST_2_3
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root, nullptr);
#else
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
#endif
  if (!root) return {Status::Damaged, PlistDictionary(nullptr), "not a property list"};
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return {Status::Damaged, PlistDictionary(nullptr), "root is not a dictionary"};
  }
  if (!treeWithinLimits(root, PlistLimits{}, tooLarge)) {
    plist_free(root);
    return {Status::Damaged, PlistDictionary(nullptr), tooLarge};
  }
  return {Status::Ok, PlistDictionary(withoutRepeatedKeys(root)), {}};
}

size_t PlistDictionary::size() const {
  return node_ ? plist_dict_get_size(static_cast<plist_t>(node_)) : 0;
}

bool PlistDictionary::has(std::string_view key) const {
  if (!node_) return false;
  std::string k(key);
  return plist_dict_get_item(static_cast<plist_t>(node_), k.c_str()) != nullptr;
}

int32_t PlistDictionary::intValue(std::string_view key) const {
  if (!node_) return 0;
  std::string k(key);
  plist_t item = plist_dict_get_item(static_cast<plist_t>(node_), k.c_str());
  if (!item) return 0;
  switch (plist_get_node_type(item)) {
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(item, &length);
      return text ? leadingInt(stringText(text, length)) : 0;
    }
    case PLIST_UINT: {
      uint64_t v = 0;
      plist_get_uint_val(item, &v);
      // libplist keeps negative integers as their two's complement.
      return clampToInt32(static_cast<double>(static_cast<int64_t>(v)));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(item, &v);
      return clampToInt32(v);
    }
    case PLIST_BOOLEAN: {
      uint8_t v = 0;
      plist_get_bool_val(item, &v);
      return v ? 1 : 0;
    }
    default:
      return 0;
  }
}

void PlistDictionary::setString(std::string_view key, std::string_view value) {
  if (!node_) node_ = plist_new_dict();
  std::string k(key), v(value);
  plist_dict_set_item(static_cast<plist_t>(node_), k.c_str(), plist_new_string(v.c_str()));
}

std::string PlistDictionary::stringValue(std::string_view key) const {
  if (!node_) return {};
  std::string k(key);
  plist_t item = plist_dict_get_item(static_cast<plist_t>(node_), k.c_str());
  if (!item || plist_get_node_type(item) != PLIST_STRING) return {};
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(item, &length);
  return text ? std::string(stringText(text, length)) : std::string();
}

bool PlistDictionary::dictionaries(std::string_view key, std::vector<PlistDictionary>& items,
                                   std::string& fault) const {
  items.clear();
  if (!node_) return true;
  std::string k(key);
  plist_t array = plist_dict_get_item(static_cast<plist_t>(node_), k.c_str());
  if (!array) return true;
  if (plist_get_node_type(array) != PLIST_ARRAY) {
    fault = k + " is not a list";
    return false;
  }
  const uint32_t count = plist_array_get_size(array);
  for (uint32_t i = 0; i < count; ++i) {
    plist_t item = plist_array_get_item(array, i);
    if (plist_get_node_type(item) != PLIST_DICT) {
      fault = k + ": entry " + std::to_string(i + 1) + " is not a dictionary";
      items.clear();
      return false;
    }
    items.push_back(PlistDictionary(plist_copy(item)));
  }
  return true;
}

void PlistDictionary::setDictionaries(std::string_view key,
                                      const std::vector<PlistDictionary>& items) {
  if (!node_) node_ = plist_new_dict();
  plist_t array = plist_new_array();
  for (const PlistDictionary& item : items) {
    plist_array_append_item(
        array, item.node_ ? plist_copy(static_cast<plist_t>(item.node_)) : plist_new_dict());
  }
  std::string k(key);
  plist_dict_set_item(static_cast<plist_t>(node_), k.c_str(), array);
}

void PlistDictionary::remove(std::string_view key) {
  if (!node_) return;
  std::string k(key);
  plist_dict_remove_item(static_cast<plist_t>(node_), k.c_str());
}

std::string PlistDictionary::toXml() const {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_t node = node_ ? static_cast<plist_t>(node_) : nullptr;
  plist_t empty = node ? nullptr : plist_new_dict();
  plist_to_xml(node ? node : empty, &xml, &length);
  std::string out = xml ? std::string(xml, length) : std::string();
#ifdef VELT_PLIST_2_3
  if (xml) plist_mem_free(xml);
#else
  if (xml) plist_to_xml_free(xml);
#endif
  if (empty) plist_free(empty);
  return out;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         std::string& reason) {
  std::error_code ec;
  std::filesystem::path target = path;
  // Write through a symbolic link rather than replacing it.
  if (std::filesystem::is_symlink(path, ec)) {
    target = std::filesystem::weakly_canonical(path, ec);
    if (ec) target = path;
  }
  std::string templ = (target.parent_path() / (target.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(templ.data());
  if (fd < 0) {
    reason = errnoText(errno);
    return false;
  }
  auto fail = [&](int error) {
    reason = errnoText(error);
    close(fd);
    unlink(templ.c_str());
    return false;
  };
  auto perms = std::filesystem::status(target, ec).permissions();
  if (!ec && perms != std::filesystem::perms::unknown) {
    if (fchmod(fd, static_cast<mode_t>(perms) & 07777) != 0) return fail(errno);
  } else if (fchmod(fd, 0600) != 0) {
    return fail(errno);
  }
  const char* data = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    ssize_t n = write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    reason = errnoText(errno);
    unlink(templ.c_str());
    return false;
  }
  if (rename(templ.c_str(), target.c_str()) != 0) {
    reason = errnoText(errno);
    unlink(templ.c_str());
    return false;
  }
  // The rename is only durable once the folder is.
  const int folder = open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

bool copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string& reason) {
  std::string bytes, before, ignored;
  if (readSmallFile(from, bytes, reason) != ReadBytes::Ok) return false;
  std::error_code ec;
  if (std::filesystem::exists(to, ec) && readSmallFile(to, before, ignored) == ReadBytes::Ok &&
      before == bytes) {
    return true;
  }
  return writeFileAtomically(to, bytes, reason);
}

}  // namespace velt
