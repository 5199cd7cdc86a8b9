#include "core/plist_bounds.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace velt {
namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr size_t kTrailerSize = 32;

enum : uint8_t {
  kMarkerInt = 0x1,
  kMarkerReal = 0x2,
  kMarkerDate = 0x3,
  kMarkerData = 0x4,
  kMarkerAscii = 0x5,
  kMarkerUtf16 = 0x6,
  kMarkerUtf8 = 0x7,
  kMarkerUid = 0x8,
  kMarkerArray = 0xA,
  kMarkerOrderedSet = 0xB,
  kMarkerSet = 0xC,
  kMarkerDict = 0xD,
};

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

class BinaryPlist {
 public:
  explicit BinaryPlist(std::string_view bytes) : bytes_(bytes) {}

  // Reads the trailer and the offset table; false with reason_ when they are
  // not whole.
  bool open() {
    if (bytes_.size() < kMagic.size() + kTrailerSize) return fail("binary plist is truncated");
    const size_t t = bytes_.size() - kTrailerSize;
    offsetSize_ = byte(t + 6);
    refSize_ = byte(t + 7);
    objectCount_ = bigEndian(t + 8, 8);
    topObject_ = bigEndian(t + 16, 8);
    const uint64_t tableAt = bigEndian(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
      return fail("binary plist has a bad trailer");
    }
    // Every object takes at least one byte, so a count beyond the file's size
    // is a lie.
    if (objectCount_ == 0 || objectCount_ > t || topObject_ >= objectCount_ || tableAt > t ||
        (t - tableAt) / offsetSize_ < objectCount_) {
      return fail("binary plist has a bad object table");
    }
    tableAt_ = static_cast<size_t>(tableAt);
    return true;
  }

  uint64_t objectCount() const { return objectCount_; }
  uint64_t topObject() const { return topObject_; }
  const std::string& reason() const { return reason_; }

  struct Object {
    uint8_t kind = 0;
    uint64_t payload = 0;  // bytes of its own, children aside
    size_t refsAt = 0;     // containers: where the references start
    uint64_t refCount = 0;
    uint64_t keyCount = 0;  // dictionaries: the first keyCount references are keys
  };

  std::optional<Object> object(uint64_t index) {
    const uint64_t at = bigEndian(tableAt_ + index * offsetSize_, offsetSize_);
    if (at < kMagic.size() || at >= tableAt_) return failed("an object lies outside the file");
    size_t pos = static_cast<size_t>(at);
    const uint8_t marker = byte(pos++);
    Object o;
    o.kind = marker >> 4;
    const uint8_t low = marker & 0x0F;
    switch (o.kind) {
      case 0x0:
        return o;
      case kMarkerInt:
      case kMarkerReal:
        o.payload = uint64_t{1} << std::min<uint8_t>(low, 4);
        break;
      case kMarkerDate:
        o.payload = 8;
        break;
      case kMarkerUid:
        o.payload = uint64_t{low} + 1;
        break;
      case kMarkerData:
      case kMarkerAscii:
      case kMarkerUtf8:
      case kMarkerUtf16:
      case kMarkerArray:
      case kMarkerOrderedSet:
      case kMarkerSet:
      case kMarkerDict: {
        auto count = length(low, pos);
        if (!count) return std::nullopt;
        if (o.kind == kMarkerUtf16) {
          o.payload = *count > UINT64_MAX / 2 ? UINT64_MAX : *count * 2;
        } else if (o.kind < kMarkerArray) {
          o.payload = *count;
        } else {
          o.refCount = *count;
          if (o.kind == kMarkerDict) {
            o.keyCount = *count;
            o.refCount = *count > UINT64_MAX / 2 ? UINT64_MAX : *count * 2;
          }
          o.refsAt = pos;
          if ((tableAt_ - pos) / refSize_ < o.refCount) {
            return failed("a container's references run past its end");
          }
        }
        break;
      }
      default:
        return failed("an object of unknown kind");
    }
    if (o.kind < kMarkerArray && o.payload > tableAt_ - pos) {
      return failed("an object runs past its end");
    }
    if (hasNul(o, pos)) return failed("a string with a NUL character");
    return o;
  }

  // The i-th reference of a container, checked against the object count.
  std::optional<uint64_t> reference(const Object& o, uint64_t i) {
    const uint64_t ref = bigEndian(o.refsAt + i * refSize_, refSize_);
    if (ref >= objectCount_) return failed("a reference to no object");
    return ref;
  }

  bool fail(std::string text) {
    if (reason_.empty()) reason_ = std::move(text);
    return false;
  }

 private:
  std::nullopt_t failed(std::string text) {
    fail(std::move(text));
    return std::nullopt;
  }

  uint8_t byte(size_t at) const { return static_cast<uint8_t>(bytes_[at]); }

  // libplist asserts on a dictionary key with a NUL inside, and would write
  // a string with one into XML that no reader takes back.
  bool hasNul(const Object& o, size_t at) const {
    const std::string_view text = bytes_.substr(at, static_cast<size_t>(o.payload));
    if (o.kind == kMarkerAscii || o.kind == kMarkerUtf8) {
      return text.find('\0') != std::string_view::npos;
    }
    if (o.kind != kMarkerUtf16) return false;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
      if (text[i] == 0 && text[i + 1] == 0) return true;
    }
    return false;
  }

  uint64_t bigEndian(size_t at, size_t size) const {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v = (v << 8) | byte(at + i);
    return v;
  }

  // An object's element count: in the marker's low bits, or, when they are
  // all set, in the integer object that follows.
  std::optional<uint64_t> length(uint8_t low, size_t& pos) {
    if (low != 0x0F) return low;
    if (pos >= tableAt_) return failed("an object runs past its end");
    const uint8_t marker = byte(pos++);
    if (marker >> 4 != kMarkerInt || (marker & 0x0F) > 3) return failed("a bad object length");
    const size_t size = size_t{1} << (marker & 0x0F);
    if (size > tableAt_ - pos) return failed("an object runs past its end");
    const uint64_t v = bigEndian(pos, size);
    pos += size;
    return v;
  }

  std::string_view bytes_;
  uint8_t offsetSize_ = 0;
  uint8_t refSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t topObject_ = 0;
  size_t tableAt_ = 0;
  std::string reason_;
};

bool isString(uint8_t kind) {
  return kind == kMarkerAscii || kind == kMarkerUtf16 || kind == kMarkerUtf8;
}

}  // namespace

bool binaryPlistWithinLimits(std::string_view bytes, const PlistLimits& limits,
                             std::string& reason) {
  if (!bytes.starts_with(kMagic)) return true;
  BinaryPlist plist(bytes);
  if (!plist.open()) {
    reason = plist.reason();
    return false;
  }

  // Depth-first over the objects, each visited once: what an object expands
  // to is worked out from its children's figures, so shared objects cost
  // nothing extra here however often they are referred to.
  struct Figures {
    uint64_t nodes = 0;
    uint64_t payload = 0;
    uint32_t depth = 0;
  };
  enum class State : uint8_t { New, Open, Done };
  const size_t count = static_cast<size_t>(plist.objectCount());
  std::vector<State> state(count, State::New);
  std::vector<Figures> figures(count);
  struct Frame {
    uint64_t index;
    BinaryPlist::Object object;
    uint64_t next = 0;
    Figures sum;
  };
  std::vector<Frame> stack;

  auto enter = [&](uint64_t index) -> bool {
    auto object = plist.object(index);
    if (!object) return false;
    if (stack.size() > limits.depth) {
      return plist.fail("containers nested more than " + std::to_string(limits.depth) + " deep");
    }
    state[index] = State::Open;
    Frame frame{index, *object, 0, {1, object->payload, 0}};
    stack.push_back(frame);
    return true;
  };

  bool ok = enter(plist.topObject());
  while (ok && !stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.object.refCount) {
      figures[frame.index] = frame.sum;
      state[frame.index] = State::Done;
      const Figures done = frame.sum;
      stack.pop_back();
      if (!stack.empty()) {
        Figures& parent = stack.back().sum;
        parent.nodes = saturatingAdd(parent.nodes, done.nodes);
        parent.payload = saturatingAdd(parent.payload, done.payload);
        parent.depth = std::max(parent.depth, done.depth + 1);
      }
      if (done.nodes > limits.nodes) {
        ok = plist.fail("expands to more than " + std::to_string(limits.nodes) + " values");
      } else if (done.payload > limits.payloadBytes) {
        ok = plist.fail("expands to more than " + std::to_string(limits.payloadBytes) + " bytes");
      }
      continue;
    }
    const uint64_t i = frame.next++;
    auto ref = plist.reference(frame.object, i);
    if (!ref) {
      ok = false;
      break;
    }
    const size_t child = static_cast<size_t>(*ref);
    if (i < frame.object.keyCount) {
      auto key = plist.object(child);
      if (!key) {
        ok = false;
        break;
      }
      if (!isString(key->kind)) {
        ok = plist.fail("a dictionary key that is not a string");
        break;
      }
    }
    switch (state[child]) {
      case State::Open:
        ok = plist.fail("an object contains itself");
        break;
      case State::Done: {
        Figures& sum = frame.sum;
        sum.nodes = saturatingAdd(sum.nodes, figures[child].nodes);
        sum.payload = saturatingAdd(sum.payload, figures[child].payload);
        sum.depth = std::max(sum.depth, figures[child].depth + 1);
        if (stack.size() + figures[child].depth > limits.depth) {
          ok = plist.fail("containers nested more than " + std::to_string(limits.depth) + " deep");
        }
        break;
      }
      case State::New:
        ok = enter(child);
        break;
    }
  }
  if (!ok) reason = plist.reason();
  return ok;
}

}  // namespace velt
