// Reading numbers out of text the way the stored files expect.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velt {

// The leading decimal integer of text: white space skipped, an optional sign,
// then digits up to the first other character. Text that does not start with
// a number reads as 0; values beyond the int32 range saturate.
int32_t leadingInt(std::string_view text);

// The leading decimal number of text, with a fraction and exponent: white
// space skipped, an optional sign, then the number. nullopt when text does
// not start with a finite one.
std::optional<double> leadingDouble(std::string_view text);

// A hexadecimal number: white space skipped, an optional "0x" or "0X", then
// hexadecimal digits up to the first other character. nullopt when there is
// no digit. Values beyond 32 bits saturate to 0xFFFFFFFF.
std::optional<uint32_t> scanHex(std::string_view text);

}  // namespace velt
