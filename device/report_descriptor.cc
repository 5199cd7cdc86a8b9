#include "device/report_descriptor.h"

#include <algorithm>
#include <array>
#include <vector>

namespace velt {
namespace {

// Item types of the short item prefix.
constexpr uint8_t kMain = 0;
constexpr uint8_t kGlobal = 1;
constexpr uint8_t kLocal = 2;

// Main item tags.
constexpr uint8_t kInput = 0x8;
constexpr uint8_t kOutput = 0x9;
constexpr uint8_t kCollection = 0xA;
constexpr uint8_t kFeature = 0xB;
constexpr uint8_t kEndCollection = 0xC;

// Global item tags.
constexpr uint8_t kUsagePage = 0x0;
constexpr uint8_t kReportSize = 0x7;
constexpr uint8_t kReportId = 0x8;
constexpr uint8_t kReportCount = 0x9;
constexpr uint8_t kPush = 0xA;
constexpr uint8_t kPop = 0xB;

// Local item tags.
constexpr uint8_t kUsage = 0x0;

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint32_t kApplicationCollection = 0x01;

// Limits beyond which a descriptor is treated as hostile. Real devices stay
// far below them.
constexpr size_t kMaxGlobalStack = 16;
constexpr size_t kMaxCollectionDepth = 32;
constexpr uint32_t kMaxReportSizeBits = 256;
constexpr uint32_t kMaxReportCount = 12288;
constexpr uint64_t kMaxReportBytes = 16384;

struct Globals {
  uint32_t usagePage = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

struct Locals {
  bool hasUsage = false;
  uint32_t usage = 0;  // the first usage of the item, as given
  bool extended = false;
};

class Parser {
 public:
  explicit Parser(std::string& reason) : reason_(reason) {}

  std::optional<ReportDescriptorSummary> parse(std::span<const uint8_t> d) {
    if (d.empty()) return fail("empty report descriptor");
    if (d.size() > kMaxReportDescriptorSize) {
      return fail("report descriptor of " + std::to_string(d.size()) + " bytes is too long");
    }
    size_t at = 0;
    while (at < d.size()) {
      const uint8_t prefix = d[at];
      if (prefix == kLongItemPrefix) {
        // Long item: size byte, tag byte, then data. Nothing we need.
        if (d.size() - at < 3) return failAt(at, "truncated long item");
        const size_t size = d[at + 1];
        if (d.size() - at - 3 < size) return failAt(at, "truncated long item");
        at += 3 + size;
        continue;
      }
      const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
      if (d.size() - at - 1 < size) return failAt(at, "truncated item");
      uint32_t value = 0;
      for (size_t i = 0; i < size; ++i) value |= uint32_t{d[at + 1 + i]} << (8 * i);
      const uint8_t type = (prefix >> 2) & 3;
      const uint8_t tag = prefix >> 4;
      bool ok = true;
      if (type == kMain) {
        ok = main(tag, value);
      } else if (type == kGlobal) {
        ok = global(tag, value);
      } else if (type == kLocal) {
        local(tag, value, size);
      }
      if (!ok) return failAt(at, problem_);
      at += 1 + size;
    }
    if (depth_ != 0) return fail("collection left open at the end");
    return finish();
  }

 private:
  std::nullopt_t fail(std::string text) {
    reason_ = std::move(text);
    return std::nullopt;
  }
  std::nullopt_t failAt(size_t at, const std::string& text) {
    return fail(text + " at byte " + std::to_string(at));
  }
  bool problem(std::string text) {
    problem_ = std::move(text);
    return false;
  }

  bool main(uint8_t tag, uint32_t value) {
    switch (tag) {
      case kInput:
        return addField(0);
      case kOutput:
        return addField(1);
      case kFeature:
        return addField(2);
      case kCollection:
        if (depth_ == kMaxCollectionDepth) return problem("collections nested too deeply");
        ++depth_;
        if ((value & 0xFF) == kApplicationCollection && !sawApplication_) {
          sawApplication_ = true;
          if (locals_.hasUsage) {
            summary_.primaryUsagePage = locals_.extended ? locals_.usage >> 16 : globals_.usagePage;
            summary_.primaryUsage = locals_.extended ? locals_.usage & 0xFFFF : locals_.usage;
          }
        }
        break;
      case kEndCollection:
        if (depth_ == 0) return problem("end of a collection that was never opened");
        --depth_;
        break;
      default:
        break;  // reserved main items carry nothing we need
    }
    locals_ = {};
    return true;
  }

  bool addField(int kind) {
    const uint64_t bits = uint64_t{globals_.reportSize} * globals_.reportCount;
    uint64_t& total = bits_[kind][globals_.reportId];
    total += bits;
    if ((total + 7) / 8 > kMaxReportBytes) return problem("report too large");
    if (globals_.reportId != 0) summary_.lastReportId = static_cast<int32_t>(globals_.reportId);
    present_[kind][globals_.reportId] = true;
    locals_ = {};
    return true;
  }

  bool global(uint8_t tag, uint32_t value) {
    switch (tag) {
      case kUsagePage:
        globals_.usagePage = value;
        break;
      case kReportSize:
        if (value > kMaxReportSizeBits) return problem("report size too large");
        globals_.reportSize = value;
        break;
      case kReportCount:
        if (value > kMaxReportCount) return problem("report count too large");
        globals_.reportCount = value;
        break;
      case kReportId:
        if (value == 0 || value > 255) return problem("invalid report id");
        globals_.reportId = value;
        summary_.numberedReports = true;
        break;
      case kPush:
        if (stack_.size() == kMaxGlobalStack) return problem("push nested too deeply");
        stack_.push_back(globals_);
        break;
      case kPop:
        if (stack_.empty()) return problem("pop without push");
        globals_ = stack_.back();
        stack_.pop_back();
        break;
      default:
        break;  // logical and physical ranges, units: not needed here
    }
    return true;
  }

  void local(uint8_t tag, uint32_t value, size_t size) {
    if (tag == kUsage && !locals_.hasUsage) {
      locals_.hasUsage = true;
      locals_.usage = value;
      locals_.extended = size == 4;
    }
  }

  ReportDescriptorSummary finish() {
    int32_t* sizes[3] = {&summary_.maxInputReportSize, &summary_.maxOutputReportSize,
                         &summary_.maxFeatureReportSize};
    for (int kind = 0; kind < 3; ++kind) {
      uint64_t largest = 0;
      bool any = false;
      for (size_t id = 0; id < 256; ++id) {
        if (!present_[kind][id]) continue;
        any = true;
        largest = std::max(largest, (bits_[kind][id] + 7) / 8);
      }
      if (any) *sizes[kind] = static_cast<int32_t>(largest) + (summary_.numberedReports ? 1 : 0);
    }
    return summary_;
  }

  std::string& reason_;
  std::string problem_;
  ReportDescriptorSummary summary_;
  Globals globals_;
  Locals locals_;
  std::vector<Globals> stack_;
  size_t depth_ = 0;
  bool sawApplication_ = false;
  // Bits per report, by kind (input, output, feature) and report id.
  std::array<std::array<uint64_t, 256>, 3> bits_{};
  std::array<std::array<bool, 256>, 3> present_{};
};

}  // namespace

std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const uint8_t> descriptor,
                                                             std::string& reason) {
  return Parser(reason).parse(descriptor);
}

}  // namespace velt
