#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace velt {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t skipSpace(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  return i;
}

}  // namespace

int32_t leadingInt(std::string_view text) {
  size_t i = skipSpace(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(value >= limit ? limit - 1 : value);
}

std::optional<double> leadingDouble(std::string_view text) {
  size_t i = skipSpace(text);
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  // Leading signs are taken above; from_chars would take a second one.
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  // "inf", "nan" and numbers past the double range are no positions.
  if (end == text.data() + i || error != std::errc() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::optional<uint32_t> scanHex(std::string_view text) {
  size_t i = skipSpace(text);
  if (text.size() - i >= 3 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      hexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  uint64_t value = 0;
  bool any = false;
  for (; i < text.size(); ++i) {
    int d = hexDigit(text[i]);
    if (d < 0) break;
    any = true;
    value = value * 16 + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFu) value = 0x100000000u;
  }
  if (!any) return std::nullopt;
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

}  // namespace velt
