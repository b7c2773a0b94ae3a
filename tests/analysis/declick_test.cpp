#include "analysis/declick.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/sample_frame.h"

namespace kestrune {
namespace {

// A fragment of frames whose left and right samples are given per frame.
std::vector<int16_t> Fragment(uint32_t frames, int16_t left, int16_t right) {
  std::vector<int16_t> s(2 * size_t{frames});
  for (uint32_t f = 0; f < frames; ++f) {
    s[2 * f] = left;
    s[2 * f + 1] = right;
  }
  return s;
}

TEST(Declick, ShortFragmentsAreLeftUnchanged) {
  for (uint32_t count : {0u, 2u, 1374u, 1375u}) {
    std::vector<int16_t> s(count + 1, 1234);
    ApplyDeclickRamp(s.data(), count);
    for (int16_t v : s) EXPECT_EQ(v, 1234) << "count " << count;
  }
  ApplyDeclickRamp(nullptr, 5000);  // no buffer: nothing happens
}

TEST(Declick, RampsRunFromZeroToTheReferenceAndBack) {
  const uint32_t frames = 4410;
  auto s = Fragment(frames, 5, 7);
  s[2 * 688] = 688;           // fade-in left reference
  s[2 * 688 + 1] = -688;      // fade-in right reference
  s[2 * (frames - 688)] = 1000;    // fade-out left reference: first frame of the ramp
  s[2 * (frames - 689) + 1] = 688; // fade-out right reference: frame before the ramp
  ApplyDeclickRamp(s.data(), frames * 2);
  for (int f = 0; f < 688; ++f) {
    EXPECT_EQ(s[2 * f], f);
    EXPECT_EQ(s[2 * f + 1], -f);
    const uint32_t back = frames - 1 - f;  // fade-out frame holding f / 688 of its reference
    EXPECT_EQ(s[2 * back], static_cast<int16_t>(f * (1000.0 / 688.0)));
    EXPECT_EQ(s[2 * back + 1], f);
  }
  EXPECT_EQ(s[2 * (frames - 688) + 0], 998);  // 687/688 of 1000, truncated
  EXPECT_EQ(s[2 * (frames - 2)], 1);          // 1/688 of 1000, truncated
  EXPECT_EQ(s[2 * 688], 688);                 // frame 688 keeps its value
  EXPECT_EQ(s[2 * 1000 + 1], 7);              // the middle is untouched
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[1], 0);
  EXPECT_EQ(s[2 * frames - 2], 0);
  EXPECT_EQ(s[2 * frames - 1], 0);
}

TEST(Declick, OverlappingRampsKeepTheLaterWriteAndReadReferencesFirst) {
  // 700 frames: frames 12..687 are written by both ramps.
  auto s = Fragment(700, 0, 0);
  s[2 * 688] = 688 * 2;          // sL = 2
  s[2 * 688 + 1] = 688 * 3;      // sR = 3, read before the fade-out overwrites frame 688
  s[2 * (700 - 688)] = 688 * 5;  // tL = 5, read before the fade-in overwrites frame 12
  s[2 * (700 - 689) + 1] = 688 * 7;  // tR = 7
  ApplyDeclickRamp(s.data(), 1400);
  // Frame 100: the fade-out writes it at step 599, after the fade-in's step 100.
  EXPECT_EQ(s[200], 599 * 5);
  EXPECT_EQ(s[201], 599 * 7);
  // Frame 600: the fade-in's step 600 comes after the fade-out's step 99.
  EXPECT_EQ(s[1200], 600 * 2);
  EXPECT_EQ(s[1201], 600 * 3);

  // 701 frames: frame 350 is written by both at step 350; left goes to the
  // fade-out (last write of the step), right to the fade-in.
  auto t = Fragment(701, 0, 0);
  t[2 * 688] = 688 * 2;
  t[2 * 688 + 1] = 688 * 3;
  t[2 * (701 - 688)] = 688 * 5;
  t[2 * (701 - 689) + 1] = 688 * 7;
  ApplyDeclickRamp(t.data(), 1402);
  EXPECT_EQ(t[700], 350 * 5);
  EXPECT_EQ(t[701], 350 * 3);
}

TEST(Declick, ReferencesOutsideTheBufferCountAsZero) {
  // 1376 values: both fade-in references and the fade-out right one lie outside.
  std::vector<int16_t> s(1376 + 4, 0);
  s[0] = 688;  // fade-out left reference (value count - 1376 = 0)
  s[1376] = s[1377] = s[1378] = s[1379] = 4000;  // beyond the buffer: never read or written
  ApplyDeclickRamp(s.data(), 1376);
  for (int f = 0; f < 688; ++f) EXPECT_EQ(s[2 * f + 1], 0) << "frame " << f;
  EXPECT_EQ(s[0], 687);  // fade-out step 687 comes after fade-in step 0
  EXPECT_EQ(s[2 * 687], 0);
  for (size_t i = 1376; i < s.size(); ++i) EXPECT_EQ(s[i], 4000);

  std::vector<int16_t> u(1377, 688);
  ApplyDeclickRamp(u.data(), 1377);  // odd count: every access stays inside
  EXPECT_EQ(u[1376], 0);
}

TEST(Declick, ByteFormMatchesTheSampleForm) {
  auto s = Fragment(4410, 0, 0);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
  std::vector<uint8_t> bytes(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) StoreU16(&bytes[2 * i], static_cast<uint16_t>(s[i]));
  ApplyDeclickRamp(s.data(), static_cast<uint32_t>(s.size()));
  ApplyDeclickRampBytes(bytes.data(), static_cast<uint32_t>(s.size()));
  for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(static_cast<int16_t>(LoadU16(&bytes[2 * i])), s[i]);
}

}  // namespace
}  // namespace kestrune
