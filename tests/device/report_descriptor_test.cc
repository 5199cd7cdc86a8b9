#include "device/report_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using Bytes = std::vector<uint8_t>;

struct Expected {
  uint32_t page, usage;
  int32_t input, output, feature, lastId;
};

ReportDescriptorSummary parseOk(const Bytes& d) {
  std::string reason;
  auto s = parseReportDescriptor(d, reason);
  EXPECT_TRUE(s.has_value()) << reason;
  return s.value_or(ReportDescriptorSummary{});
}

std::string parseError(const Bytes& d) {
  std::string reason;
  auto s = parseReportDescriptor(d, reason);
  EXPECT_FALSE(s.has_value());
  return reason;
}

void expectSummary(const Bytes& d, const Expected& e) {
  ReportDescriptorSummary s = parseOk(d);
  EXPECT_EQ(s.primaryUsagePage, e.page);
  EXPECT_EQ(s.primaryUsage, e.usage);
  EXPECT_EQ(s.maxInputReportSize, e.input);
  EXPECT_EQ(s.maxOutputReportSize, e.output);
  EXPECT_EQ(s.maxFeatureReportSize, e.feature);
  EXPECT_EQ(s.lastReportId, e.lastId);
  EXPECT_EQ(s.numberedReports, e.lastId != 0);
}

// A descriptor of the fuzz target's corpus, past the ids and the empty
// serial number its first five bytes give. Besides the virtual mice's (an
// ordinary boot-protocol mouse among them), it holds descriptors of real
// devices as published: a wireless mouse dongle with numbered reports, a
// mouse with a wheel resolution multiplier (four nested collections, a
// feature report declared between two parts of an input report), and a
// laptop keyboard whose first collection is a vendor one.
Bytes corpusDescriptor(const std::string& name) {
  const std::string file = testing::readFile(std::filesystem::path(VELT_SOURCE_DIR) /
                                             "tests/fuzz/corpus/report_descriptor" / name);
  return file.size() > 5 ? Bytes(file.begin() + 5, file.end()) : Bytes{};
}

TEST(ReportDescriptorTest, RealDevices) {
  expectSummary(corpusDescriptor("Boot-mouse-0"), {1, 2, 3, 0, 0, 0});
  expectSummary(corpusDescriptor("Dongle-mouse-2717-003B"), {1, 2, 4, 0, 0, 3});
  // The last report id is that of the last item, not the largest.
  expectSummary(corpusDescriptor("Multiplier-mouse"), {1, 2, 6, 0, 2, 0x11});
  expectSummary(corpusDescriptor("Laptop-keyboard-06CB-2968"), {0xFF85, 0x95, 9, 2, 17, 5});
}

TEST(ReportDescriptorTest, GlobalsAndLocals) {
  // Push saves the report id and size; pop brings them back.
  expectSummary({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // vendor application
                 0x85, 0x02, 0x75, 0x08, 0x95, 0x04,        // id 2, 4 bytes
                 0xA4,                                      // push
                 0x85, 0x03, 0x95, 0x10, 0x81, 0x02,        // id 3: 16 bytes of input
                 0xB4,                                      // pop
                 0x81, 0x02, 0xC0},                         // id 2: 4 bytes of input
                {0xFF00, 1, 17, 0, 0, 2});
  // An extended usage carries its own page; a plain one takes the page in
  // force at the collection, even when set after the usage.
  expectSummary(
      {0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
      {0x0C, 1, 1, 0, 0, 0});
  expectSummary({0x09, 0x02, 0x05, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
                {1, 2, 1, 0, 0, 0});
  // Only the first application collection counts; long items are skipped.
  expectSummary({0xFE, 0x02, 0x10, 0xAA, 0xBB,  // long item
                 0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0xC0,
                 0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x05, 0x81, 0x02, 0xC0},
                {1, 6, 5, 2, 0, 0});
  // Report bits are rounded up to whole bytes per report.
  expectSummary({0x09, 0x01, 0xA1, 0x01, 0x75, 0x03, 0x95, 0x03, 0xB1, 0x02, 0xC0},
                {0, 1, 0, 0, 2, 0});
}

TEST(ReportDescriptorTest, RejectsMalformedInput) {
  EXPECT_NE(parseError({}).find("empty"), std::string::npos);
  EXPECT_NE(parseError(Bytes(kMaxReportDescriptorSize + 1, 0xC0)).find("too long"),
            std::string::npos);
  EXPECT_EQ(parseError({0x05, 0x01, 0x09}), "truncated item at byte 2");
  EXPECT_EQ(parseError({0x27, 0xFF, 0xFF}), "truncated item at byte 0");
  EXPECT_EQ(parseError({0xFE, 0x10, 0x00, 0x01}), "truncated long item at byte 0");
  EXPECT_EQ(parseError({0xFE}), "truncated long item at byte 0");
  EXPECT_EQ(parseError({0xA1, 0x01}), "collection left open at the end");
  EXPECT_EQ(parseError({0xC0}), "end of a collection that was never opened at byte 0");
  EXPECT_EQ(parseError({0xB4}), "pop without push at byte 0");
  EXPECT_EQ(parseError({0x85, 0x00}), "invalid report id at byte 0");
  EXPECT_EQ(parseError({0x86, 0x00, 0x01}), "invalid report id at byte 0");
  EXPECT_EQ(parseError({0x76, 0x01, 0x01}).substr(0, 16), "report size too ");
  EXPECT_EQ(parseError({0x97, 0xFF, 0xFF, 0xFF, 0xFF}).substr(0, 17), "report count too ");
}

TEST(ReportDescriptorTest, RejectsHostileNestingAndSizes) {
  EXPECT_NE(parseError(Bytes(17, 0xA4)).find("push nested too deeply"), std::string::npos);
  Bytes deep;
  for (int i = 0; i < 33; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  EXPECT_NE(parseError(deep).find("nested too deeply"), std::string::npos);
  // 256-bit fields, 12288 of them, in one report several times over.
  Bytes huge = {0x76, 0x00, 0x01, 0x96, 0x00, 0x30};
  for (int i = 0; i < 20; ++i) huge.insert(huge.end(), {0x81, 0x02});
  EXPECT_NE(parseError(huge).find("report too large"), std::string::npos);
}

}  // namespace
}  // namespace velt
