// UTF-8 and UTF-16 both ways: every scalar value survives the round trip in
// the right number of bytes, and malformed text of either kind is refused.
#include "common/utf16.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(Utf16, EveryScalarValueRoundTrips) {
  std::u16string all;
  size_t utf8Bytes = 0;
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      all += static_cast<char16_t>(cp);
    } else {
      all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
    utf8Bytes += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  const std::optional<std::string> utf8 = Utf16ToUtf8(all);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->size(), utf8Bytes);
  EXPECT_EQ(Utf8ToUtf16(*utf8), all);
  // The boundaries of each length, byte by byte.
  EXPECT_EQ(Utf16ToUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(Utf8ToUtf16("S\xC3\xA5ng \xF0\x9F\x8E\xB5"), u"Sång \U0001F3B5");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(Utf16, MalformedTextIsRefused) {
  const char* badUtf8[] = {
      "\x80",              // a continuation byte without a lead
      "\xC0\x80",          // overlong NUL
      "\xE0\x9F\xBF",      // overlong three-byte form
      "\xF0\x8F\xBF\xBF",  // overlong four-byte form
      "\xED\xA0\x80",      // an encoded surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte lead
      "\xE2\x82",          // truncated at the end
      "a\xC3(",            // a lead followed by no continuation
  };
  for (const char* text : badUtf8) EXPECT_FALSE(Utf8ToUtf16(text)) << testing::PrintToString(std::string(text));
  const std::u16string badUtf16[] = {u"\xD800", u"a\xDC00", u"\xD800x", std::u16string(1, u'\xDBFF')};
  for (const auto& text : badUtf16) EXPECT_FALSE(Utf16ToUtf8(text));
}

}  // namespace
}  // namespace kestrune
