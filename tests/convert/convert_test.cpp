// Conversions of files that sox (or libsndfile directly) writes: the sound
// that comes out is measured, not compared with our own earlier output.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "convert/convert.h"
#include "storage/wav_file.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using std::filesystem::path;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

void Sox(const std::string& args) {
  const std::string command = "sox -D -V1 " + args;
  ASSERT_EQ(std::system(command.c_str()), 0) << command << " (sox is installed by scripts/install-deps.sh)";
}

// The samples of a converted file, after checking that it is exactly the
// target format under a 44-byte header.
std::vector<int16_t> TargetSamples(const path& file) {
  WavInfo info;
  EXPECT_TRUE(OpenWavFile(info, file, false));
  EXPECT_EQ(info.formatTag, 1);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.sampleRate, 44100u);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_EQ(info.dataOffset, 44u);
  EXPECT_EQ(info.dataSize + 44, info.fileSize);
  std::vector<int16_t> samples(info.dataSize / 2);
  if (!samples.empty()) ReadWavFrames(info, samples.data(), 0, info.dataSize / 4);
  return samples;
}

std::vector<double> Channel(const std::vector<int16_t>& samples, int c, size_t from, size_t count) {
  std::vector<double> out;
  for (size_t i = from; i < from + count && 2 * i + c < samples.size(); ++i) out.push_back(samples[2 * i + c]);
  return out;
}

// Amplitude of the frequency f in x (Goertzel).
double Amplitude(const std::vector<double>& x, double f, double rate = 44100.0) {
  const double w = 2.0 * std::numbers::pi * f / rate, k = 2.0 * std::cos(w);
  double s1 = 0.0, s2 = 0.0;
  for (double v : x) {
    const double s = v + k * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size());
}

// Signal-to-noise ratio of x against the best-fitting ideal sine of frequency f.
double SnrAgainstSine(const std::vector<double>& x, double f, double rate = 44100.0) {
  double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    const double s = std::sin(2 * std::numbers::pi * f * n / rate), c = std::cos(2 * std::numbers::pi * f * n / rate);
    ss += s * s, cc += c * c, sc += s * c, xs += x[n] * s, xc += x[n] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
  double signal = 0, noise = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    const double ideal = a * std::sin(2 * std::numbers::pi * f * n / rate) + b * std::cos(2 * std::numbers::pi * f * n / rate);
    signal += ideal * ideal;
    noise += (x[n] - ideal) * (x[n] - ideal);
  }
  return 10.0 * std::log10(signal / noise);
}

TEST(Convert, SineAt48kHz24BitComesOutAsAClean44kHzSineTheSameEachTime) {
  TempDir dir;
  Sox("-n -r 48000 -c 2 -b 24 '" + (dir / "sine.wav").string() + "' synth 3 sine 1000 gain -1");
  const auto result = convert::ConvertFile(dir / "sine.wav", dir / "out.wav");
  ASSERT_EQ(result.status, convert::Status::Converted) << result.error;
  ASSERT_TRUE(result.input.has_value());
  EXPECT_EQ(convert::Describe(*result.input), "48000 Hz, 2 channels, 24-bit");
  EXPECT_EQ(result.outputFrames, 132300u);  // 3 s at 44100 Hz
  const auto samples = TargetSamples(dir / "out.wav");
  ASSERT_EQ(samples.size(), 2 * 132300u);

  for (int c = 0; c < 2; ++c) {
    // Away from the edges, where the filters ring.
    const auto x = Channel(samples, c, 22050, 88200);
    double best = 0, bestF = 0;
    for (double f = 100; f <= 20000; f += 10) {
      const double a = Amplitude(x, f);
      if (a > best) best = a, bestF = f;
    }
    EXPECT_EQ(bestF, 1000.0);
    EXPECT_NEAR(20 * std::log10(best / 32768.0), -1.0, 0.05);
    const double snr = SnrAgainstSine(x, 1000.0);
    EXPECT_GE(snr, 90.0);
    RecordProperty(c == 0 ? "snr_left_db" : "snr_right_db", std::to_string(snr));
    std::printf("SNR against an ideal 1 kHz sine, channel %d: %.2f dB\n", c, snr);
  }
  // Dither is seeded: the same input gives the same bytes.
  ASSERT_TRUE(convert::ConvertFile(dir / "sine.wav", dir / "again.wav").Succeeded());
  EXPECT_EQ(ReadBytes(dir / "out.wav"), ReadBytes(dir / "again.wav"));
}

TEST(Convert, ChannelsBecomeStereoAsDocumented) {
  TempDir dir;
  // Mono 16-bit at 44100 Hz: both sides carry the samples unchanged.
  Sox("-n -r 44100 -c 1 -b 16 '" + (dir / "mono.wav").string() + "' synth 0.5 pinknoise gain -3");
  ASSERT_TRUE(convert::ConvertFile(dir / "mono.wav", dir / "mono_out.wav").Succeeded());
  WavInfo mono;
  ASSERT_TRUE(OpenWavFile(mono, dir / "mono.wav", false));
  std::vector<int16_t> in(mono.dataSize / 2);
  ReadWavFrames(mono, in.data(), 0, static_cast<uint32_t>(in.size()));
  const auto out = TargetSamples(dir / "mono_out.wav");
  ASSERT_EQ(out.size(), 2 * in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(out[2 * i], in[i]) << i;
    ASSERT_EQ(out[2 * i + 1], in[i]) << i;
  }

  // 5.1 (L R C LFE Ls Rs), one tone per channel: L = L + 0.7071 C + 0.7071 Ls,
  // R likewise, LFE dropped, all scaled by 1 / 2.4142.
  Sox("-n -r 44100 -c 6 -b 16 '" + (dir / "surround.wav").string() +
      "' synth 1 sine 300 sine 500 sine 700 sine 900 sine 1100 sine 1300 gain -6");
  const auto result = convert::ConvertFile(dir / "surround.wav", dir / "surround_out.wav");
  ASSERT_TRUE(result.Succeeded()) << result.error;
  const auto five = TargetSamples(dir / "surround_out.wav");
  const double full = std::pow(10.0, -6.0 / 20) * 32768.0 / 2.41421356;
  const double tones[6] = {300, 500, 700, 900, 1100, 1300};
  const double left[6] = {1, 0, 0.70710678, 0, 0.70710678, 0}, right[6] = {0, 1, 0.70710678, 0, 0, 0.70710678};
  for (int c = 0; c < 2; ++c) {
    const auto x = Channel(five, c, 0, 44100);
    for (int t = 0; t < 6; ++t) {
      EXPECT_NEAR(Amplitude(x, tones[t]), full * (c == 0 ? left[t] : right[t]), 3.0) << "side " << c << " tone " << tones[t];
    }
  }
}

TEST(Convert, FloatIsClippedAndEightBitKeepsItsSteps) {
  TempDir dir;
  // Float beyond full scale, and the values no recording should hold.
  const float frames[] = {1.5f, -2.0f, 0.5f, -0.25f, NAN, INFINITY, -INFINITY, 0.0f};
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open((dir / "float.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
  ASSERT_EQ(sf_writef_float(f, frames, 4), 4);
  sf_close(f);
  ASSERT_TRUE(convert::ConvertFile(dir / "float.wav", dir / "float_out.wav").Succeeded());
  const auto clipped = TargetSamples(dir / "float_out.wav");
  const int expected[] = {32767, -32768, 16384, -8192, 0, 32767, -32768, 0};
  ASSERT_EQ(clipped.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(clipped[i], expected[i], 1) << i;  // one step of dither

  // Unsigned 8-bit: each step becomes 256 steps, exactly.
  Sox("-n -r 44100 -c 2 -b 8 '" + (dir / "eight.wav").string() + "' synth 0.2 sine 440 gain -2");
  ASSERT_TRUE(convert::ConvertFile(dir / "eight.wav", dir / "eight_out.wav").Succeeded());
  const auto raw = ReadBytes(dir / "eight.wav");
  WavInfo eight;
  ASSERT_TRUE(OpenWavFile(eight, dir / "eight.wav", false));
  const auto wide = TargetSamples(dir / "eight_out.wav");
  ASSERT_EQ(wide.size(), eight.dataSize);
  bool varies = false;
  for (size_t i = 0; i < wide.size(); ++i) {
    ASSERT_EQ(wide[i], (raw[eight.dataOffset + i] - 128) * 256) << i;
    varies |= wide[i] != wide[0];
  }
  EXPECT_TRUE(varies);
}

TEST(Convert, FlacIsLosslessAndTheTargetFormatIsCopiedUnchanged) {
  TempDir dir;
  // A target-format file with a chunk of its own after the data: copied as it is.
  std::vector<uint8_t> noise = test::NoiseBytes(44100 * 4, 7);
  const std::vector<uint8_t> plain = test::PcmWav(noise);
  std::vector<uint8_t> target = plain;
  const uint8_t list[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  target.insert(target.end(), std::begin(list), std::end(list));
  target[4] = static_cast<uint8_t>(target.size() - 8), target[5] = static_cast<uint8_t>((target.size() - 8) >> 8),
  target[6] = static_cast<uint8_t>((target.size() - 8) >> 16);
  ASSERT_TRUE(convert::IsTargetFormat([&] { WriteBytes(dir / "target.wav", target); return dir / "target.wav"; }()));
  auto copied = convert::ConvertFile(dir / "target.wav", dir / "copy.wav");
  EXPECT_EQ(copied.status, convert::Status::Copied);
  EXPECT_EQ(copied.outputFrames, 44100u);
  EXPECT_EQ(ReadBytes(dir / "copy.wav"), target);

  Sox("'" + (dir / "target.wav").string() + "' '" + (dir / "noise.flac").string() + "'");
  const auto result = convert::ConvertFile(dir / "noise.flac", dir / "flac_out.wav");
  ASSERT_EQ(result.status, convert::Status::Converted) << result.error;
  EXPECT_EQ(result.input->container, "FLAC");
  EXPECT_EQ(ReadBytes(dir / "flac_out.wav"), plain);
}

TEST(Convert, AStoppedOrFailedConversionLeavesTheEarlierFileAlone) {
  TempDir dir;
  Sox("-n -r 48000 -c 2 -b 24 '" + (dir / "long.wav").string() + "' synth 5 whitenoise");
  WriteBytes(dir / "out.wav", {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
  int calls = 0;
  const auto stopped = convert::ConvertFile(dir / "long.wav", dir / "out.wav", [&](uint32_t) { return ++calls < 3; });
  EXPECT_EQ(stopped.status, convert::Status::Stopped);
  EXPECT_EQ(calls, 3);

  WriteBytes(dir / "broken.flac", {'f', 'L', 'a', 'C', 0, 0, 0, 34, 1, 2, 3});
  const auto failed = convert::ConvertFile(dir / "broken.flac", dir / "out.wav");
  EXPECT_EQ(failed.status, convert::Status::Failed);
  EXPECT_FALSE(failed.error.empty());

  EXPECT_EQ(ReadBytes(dir / "out.wav"), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 3u);  // long.wav, broken.flac, out.wav: no half-written file
}

TEST(Convert, LimitsBoundTheOutputOfAnyInput) {
  // 1000 Hz mono u-law upsampled 44.1 times: refused once past the limit.
  std::vector<uint8_t> data(20000, 0x7F);
  std::vector<uint8_t> wav = test::PcmWav(data, 1, 1000, 1, 8);
  wav[20] = 7;  // u-law
  std::vector<uint8_t> out;
  convert::Limits limits;
  limits.maxOutputFrames = 100000;
  const auto result = convert::ConvertMemory(wav.data(), wav.size(), out, limits);
  EXPECT_EQ(result.status, convert::Status::Failed);
  EXPECT_NE(result.error.find("too long"), std::string::npos) << result.error;
  limits.maxOutputFrames = 1000000;
  const auto whole = convert::ConvertMemory(wav.data(), wav.size(), out, limits);
  ASSERT_TRUE(whole.Succeeded()) << whole.error;
  EXPECT_EQ(out.size(), 44 + whole.outputFrames * 4);
  EXPECT_EQ(whole.outputFrames, 882000u);
}

}  // namespace
}  // namespace kestrune
