// Property-list files through libplist: a dictionary read from an XML or
// binary file, edited in place, and written back as XML.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velt {

class PlistDictionary {
 public:
  PlistDictionary();  // empty
  ~PlistDictionary();
  PlistDictionary(PlistDictionary&& other) noexcept;
  PlistDictionary& operator=(PlistDictionary&& other) noexcept;
  PlistDictionary(const PlistDictionary&) = delete;
  PlistDictionary& operator=(const PlistDictionary&) = delete;

  // Unreadable: the file could not be read (no permission, an I/O error,
  // not a regular file) or is empty, as a file-sync client leaves it while
  // it fetches the contents: it may read fine later. Damaged: it was read
  // and is no property list with a dictionary at its root within the
  // limits, or it is far too large for one.
  enum class Status { Ok, Missing, Unreadable, Damaged };
  struct ReadResult;
  // Reads path; reason says why when the status is not Ok.
  static ReadResult read(const std::filesystem::path& path);

  size_t size() const;
  bool has(std::string_view key) const;
  // The value under key as an integer: decimal strings by their leading
  // number, integers and reals as numbers, booleans as 0 or 1; 0 otherwise.
  int32_t intValue(std::string_view key) const;
  // The string under key; empty when there is none.
  std::string stringValue(std::string_view key) const;
  // Replaces the value under key, keeping its place; new keys go last.
  void setString(std::string_view key, std::string_view value);
  // Copies of the dictionaries in the array under key; empty when key is
  // absent. False, with fault, when the value is no array of dictionaries.
  bool dictionaries(std::string_view key, std::vector<PlistDictionary>& items,
                    std::string& fault) const;
  // Replaces the value under key with an array of items, as setString does.
  void setDictionaries(std::string_view key, const std::vector<PlistDictionary>& items);
  void remove(std::string_view key);
  std::string toXml() const;

 private:
  explicit PlistDictionary(void* node) : node_(node) {}
  void* node_;
};

struct PlistDictionary::ReadResult {
  Status status;
  PlistDictionary dictionary;
  std::string reason;
};

// Replaces path with contents through a temporary file in the same folder and
// a rename, so a reader sees the old file or the new one, never a mix, even
// after a crash: the file and then its folder are synced. An existing file's
// permissions carry over; a new one is the user's alone (0600). False with
// reason on failure, in which case the old file is untouched.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         std::string& reason);

// Makes to a copy of from, atomically as above; nothing is written when to
// holds the same bytes already.
bool copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string& reason);

}  // namespace velt
