#include "device/vendor_reports.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>

namespace velt {
namespace {

using namespace std::chrono_literals;

constexpr Clock::Duration kType1ReportPause = 20us;

ReportBytes reportOf(size_t length, std::initializer_list<uint8_t> head) {
  ReportBytes bytes(length, 0);
  std::copy(head.begin(), head.end(), bytes.begin());
  return bytes;
}

uint8_t xorOf(const ReportBytes& bytes, size_t from, size_t to) {
  uint8_t x = 0;
  for (size_t i = from; i <= to; ++i) x ^= bytes[i];
  return x;
}

// The first bytes of each type's identification answer, and where in it the
// model number sits.
struct AnswerForm {
  size_t length;
  size_t from;  // where the fixed bytes begin
  std::initializer_list<uint8_t> fixed;
  size_t model;
};

const AnswerForm* answerForm(int32_t type) {
  static const AnswerForm type1{kType1AnswerLength, 0, {'I', 'R'}, 3};
  static const AnswerForm type2{kType2AnswerLength, 1, {'A', 'B'}, 5};
  static const AnswerForm type6{35, 2, {'B', 'T'}, 5};
  static const AnswerForm type10{kType10AnswerLength, 0, {0x0C, 0x12, 0x03, 0x05, 'A', 'M'}, 7};
  switch (type) {
    case 1:
      return &type1;
    case 2:
      return &type2;
    case 6:
      return &type6;
    case 10:
      return &type10;
    default:
      return nullptr;
  }
}

}  // namespace

ReportBytes type1Request() {
  return {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01};
}

ReportBytes type1FollowUp() {
  return {0x00, 0x12, 0x12, 0x12, 0x12, 0x12, 0x12, 0x00};
}

ReportBytes type2Request() {
  return reportOf(kType2AnswerLength, {kType2ReportId});
}

ReportBytes type6Request(size_t length) {
  return reportOf(std::max<size_t>(length, 1), {kType6ReportId});
}

ReportBytes identificationAnswer(int32_t type, uint8_t model) {
  const AnswerForm* form = answerForm(type);
  if (!form) return {};
  ReportBytes bytes(form->length, 0);
  if (type == 2) bytes[0] = kType2ReportId;
  if (type == 6) bytes[0] = kType6ReportId;
  std::copy(form->fixed.begin(), form->fixed.end(), bytes.begin() + form->from);
  bytes[form->model] = model;
  return bytes;
}

bool isIdentificationAnswer(int32_t type, std::span<const uint8_t> answer) {
  const AnswerForm* form = answerForm(type);
  return form && answer.size() > form->model &&
         std::equal(form->fixed.begin(), form->fixed.end(), answer.begin() + form->from);
}

uint8_t answeredModel(int32_t type, std::span<const uint8_t> answer) {
  const AnswerForm* form = answerForm(type);
  return form && answer.size() > form->model ? answer[form->model] : 0;
}

std::vector<ConfigurationReport> configurationReports(int32_t type, uint8_t m, uint8_t h,
                                                      uint8_t& reportSequence) {
  std::vector<ConfigurationReport> out;
  switch (type) {
    case 1: {
      auto buttons = reportOf(8, {0x02, m});
      buttons[7] = xorOf(buttons, 0, 6);
      out.push_back({0us, 0, std::move(buttons)});
      out.push_back({kType1ReportPause, 0, type1FollowUp()});
      ++reportSequence;
      const auto s = static_cast<uint8_t>(0xE0 | (reportSequence & 0x0F));
      auto extra = reportOf(8, {0x06, s, h, 0x00});
      extra[4] = xorOf(extra, 1, 3);
      extra[7] = xorOf(extra, 0, 6);
      out.push_back({kType1ReportPause, 0, std::move(extra)});
      break;
    }
    case 2:
      out.push_back(
          {0us, kType2ReportId, reportOf(21, {kType2ReportId, 0x00, 0x00, 0x11, 0x11, m})});
      out.push_back(
          {0us, kType2ReportId, reportOf(21, {kType2ReportId, 0x00, 0x00, 0x11, 0x0F, h})});
      break;
    case 6:
      out.push_back(
          {0us, kType6ReportId, reportOf(35, {kType6ReportId, 0x01, 0x0C, 0x12, 0x03, 0x05, m})});
      break;
    case 10: {
      auto r = reportOf(16, {0x0C, 0x12, 0x03, 0x05, 0x01, m});
      r[7] = xorOf(r, 4, 6);
      out.push_back({0us, 0, std::move(r)});
      break;
    }
    default:
      break;
  }
  return out;
}

ReportBytes buttonReport(int32_t type, uint8_t mask, uint8_t extraCode) {
  switch (type) {
    case 1:
      return reportOf(9, {kType1ButtonReport, extraCode ? kType1WithExtra : kType1ButtonReport,
                          mask, 0x00, extraCode});
    case 2:
      return reportOf(8, {kButtonReportId, mask, 0x00, extraCode});
    case 6:
      return reportOf(35, {kButtonReportId, mask});
    case 10:
      return reportOf(8, {0x00, 0x00, 0x00, 0x00, mask});
    default:
      return {};
  }
}

}  // namespace velt
