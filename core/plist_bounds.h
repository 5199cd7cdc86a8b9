// A binary property list names each object once and refers to it by number,
// so one small object may be referred to many times. A reader that copies an
// object at every reference (libplist does) can turn a few hundred bytes into
// gigabytes. This walks the file's object table without expanding it and
// tells how large the expanded tree would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velt {

struct PlistLimits {
  uint64_t nodes = 4096;              // values once every reference is copied out
  uint64_t payloadBytes = 256 << 10;  // their text, data and key bytes together
  uint32_t depth = 32;                // containers inside containers
};

// True when bytes is not a binary property list (nothing to check), or is one
// whose expanded tree stays within limits, whose references all point at
// objects of the file, which has no reference cycle, whose dictionary keys
// are strings and whose strings hold no NUL. False with reason otherwise.
bool binaryPlistWithinLimits(std::string_view bytes, const PlistLimits& limits,
                             std::string& reason);

}  // namespace velt
