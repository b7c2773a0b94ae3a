// Conversions between UTF-8 and UTF-16, refusing malformed text instead of
// guessing at it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// UTF-16 to UTF-8; nothing when a surrogate is unpaired.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; nothing for a malformed, overlong or truncated sequence,
// an encoded surrogate, or a code point beyond U+10FFFF.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

}  // namespace kestrune
