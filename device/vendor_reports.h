// The bytes of the mice's vendor protocol, both ways: the requests and
// configuration reports the agent sends, the answers a mouse gives to the
// identification requests, and the input reports that carry its buttons.
// The agent, the virtual mice and the guest's checks all build their reports
// here; nothing else spells them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "device/hid_transport.h"

namespace velt {

using ReportBytes = std::vector<uint8_t>;

// Report ids of the numbered reports: the type-2 identification, and the
// type-6 identification, configuration and button reports (the type-2
// button report shares this id).
inline constexpr uint8_t kType2ReportId = 0x05;
inline constexpr uint8_t kType6ReportId = 0x07;
inline constexpr uint8_t kButtonReportId = 0x07;
// The first two bytes of a type-1 button report: 12 12 without an extra
// button code, 12 14 with one.
inline constexpr uint8_t kType1ButtonReport = 0x12;
inline constexpr uint8_t kType1WithExtra = 0x14;

// How many bytes the agent reads of each identification answer.
inline constexpr size_t kType1AnswerLength = 21;
inline constexpr size_t kType2AnswerLength = 21;
inline constexpr size_t kType10AnswerLength = 32;

// The identification requests: type 1 asks, then follows up once it has its
// answer; types 2 and 6 ask again after every read without an answer (type 6
// with a request as long as the mouse's output report).
ReportBytes type1Request();
ReportBytes type1FollowUp();
ReportBytes type2Request();
ReportBytes type6Request(size_t length);

// What a mouse of this type (1, 2, 6 or 10) answers a read of its
// identification report when its model number is model; empty for other
// types.
ReportBytes identificationAnswer(int32_t type, uint8_t model);
// Whether answer, read from a mouse of this type, is its identification
// answer; and the byte that holds the model number, answer or not (0 when
// answer is too short to hold it).
bool isIdentificationAnswer(int32_t type, std::span<const uint8_t> answer);
uint8_t answeredModel(int32_t type, std::span<const uint8_t> answer);

// The feature reports of one configuration pass that hand the buttons in m
// (standard) and h (extra) to the agent; none for types without them. Type 1
// advances reportSequence once.
std::vector<ConfigurationReport> configurationReports(int32_t type, uint8_t m, uint8_t h,
                                                      uint8_t& reportSequence);

// The input report a mouse of type 1, 2, 6 or 10 sends when its buttons are
// in mask and an extra button reports extraCode (0: none), from byte 0 (the
// report id first when it is not 0); empty for other types.
ReportBytes buttonReport(int32_t type, uint8_t mask, uint8_t extraCode = 0);

}  // namespace velt
