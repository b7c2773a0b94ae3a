// Writes the inputs of bench/run.sh: a synthetic groove of any length (44.1
// kHz, stereo, 16 bits) and an excerpt of a WAV file.
//
//   kestrune-bench-input groove OUT.wav SECONDS [SEED]
//   kestrune-bench-input pink OUT.wav SECONDS [SEED]
//   kestrune-bench-input excerpt IN.wav OUT.wav FIRST_SECOND SECONDS
//
// The groove is drums and a bass line at 120 BPM whose pattern changes from
// bar to bar, over a little noise, so that splits differ from one another and
// an excerpt is found again at its own place. The pink noise (-3 dB an
// octave, each channel on its own) has energy in every band of every block:
// no stretch of it is cheaper to analyse than another.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/sample_frame.h"
#include "storage/wav_file.h"

namespace {

using kestrune::StoreU16;

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBeat = kRate / 2;  // 120 BPM

uint32_t Next(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}
float Noise(uint32_t& s) { return static_cast<float>(Next(s)) / 2147483648.0f - 1.0f; }

// One voice struck at frame 0 of its run: a decaying sine or noise burst.
struct Voice {
  float amplitude = 0, decay = 0;
  float re = 1, im = 0, stepRe = 1, stepIm = 0;  // sine by rotation
  bool noisy = false;
  void Strike(float amp, float dec, float hertz, bool noise) {
    amplitude = amp;
    decay = dec;
    noisy = noise;
    re = 1;
    im = 0;
    const double w = 2 * 3.141592653589793 * hertz / kRate;
    stepRe = static_cast<float>(std::cos(w));
    stepIm = static_cast<float>(std::sin(w));
  }
  float Next(uint32_t& seed) {
    if (amplitude < 1.0f) return 0.0f;
    float v;
    if (noisy) {
      v = amplitude * Noise(seed);
    } else {
      v = amplitude * im;
      const float r = re * stepRe - im * stepIm;
      im = re * stepIm + im * stepRe;
      re = r;
    }
    amplitude *= decay;
    return v;
  }
};

int16_t Clip(float x) { return static_cast<int16_t>(x > 32767.f ? 32767.f : x < -32768.f ? -32768.f : x); }

bool WriteGroove(const std::filesystem::path& out, uint64_t seconds, uint32_t seed) {
  const uint64_t frames = seconds * kRate;
  if (frames * 4 > UINT32_MAX - 44) return false;
  std::array<uint8_t, 44> header;
  if (!kestrune::MakeWavHeader(header, static_cast<uint32_t>(frames * 4), kRate, 4, 1, 2, 16)) return false;
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(header.data(), 1, header.size(), f);
  Voice kick, snare, hat, bass;
  uint32_t pattern = 0;
  std::vector<uint8_t> chunk(kBeat / 4 * 4);
  const uint32_t step = kBeat / 4;  // sixteenth notes
  for (uint64_t at = 0; at < frames; at += step) {
    const uint64_t sixteenth = at / step;
    if (sixteenth % 16 == 0) pattern = Next(seed);  // a new bar, a new pattern
    const uint32_t s = static_cast<uint32_t>(sixteenth % 16);
    if (s % 4 == 0 || (pattern >> s) & 1 & (pattern >> 16)) kick.Strike(14000, 0.9996f, 55, false);
    if (s == 4 || s == 12 || ((pattern >> (s + 8)) & 3) == 3) snare.Strike(9000, 0.9993f, 0, true);
    if ((pattern >> (s % 8)) & 1 || s % 2 == 0) hat.Strike(2500, 0.996f, 0, true);
    if (s % 4 == 2) bass.Strike(6000, 0.99985f, 41.2f * static_cast<float>(1 + (pattern >> (s * 2 % 24)) % 5), false);
    const uint64_t n = std::min<uint64_t>(step, frames - at);
    for (uint64_t i = 0; i < n; ++i) {
      const float common = kick.Next(seed) + bass.Next(seed) + 200 * Noise(seed);
      const float sn = snare.Next(seed);
      const float hh = hat.Next(seed);
      StoreU16(&chunk[4 * i], static_cast<uint16_t>(Clip(common + 0.8f * sn + 0.4f * hh)));
      StoreU16(&chunk[4 * i + 2], static_cast<uint16_t>(Clip(common + 0.6f * sn + 0.7f * hh)));
    }
    std::fwrite(chunk.data(), 4, n, f);
  }
  return std::fclose(f) == 0;
}

// Paul Kellet's economy filter: white noise through three one-pole stages.
struct PinkFilter {
  float b0 = 0, b1 = 0, b2 = 0;
  float Next(float white) {
    b0 = 0.99765f * b0 + white * 0.0990460f;
    b1 = 0.96300f * b1 + white * 0.2965164f;
    b2 = 0.57000f * b2 + white * 1.0526913f;
    return b0 + b1 + b2 + white * 0.1848f;
  }
};

bool WritePink(const std::filesystem::path& out, uint64_t seconds, uint32_t seed) {
  const uint64_t frames = seconds * kRate;
  if (frames * 4 > UINT32_MAX - 44) return false;
  std::array<uint8_t, 44> header;
  if (!kestrune::MakeWavHeader(header, static_cast<uint32_t>(frames * 4), kRate, 4, 1, 2, 16)) return false;
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(header.data(), 1, header.size(), f);
  PinkFilter left, right;
  std::vector<uint8_t> chunk(kRate * 4);
  for (uint64_t at = 0; at < frames; at += kRate) {
    const uint64_t n = std::min<uint64_t>(kRate, frames - at);
    for (uint64_t i = 0; i < n; ++i) {
      StoreU16(&chunk[4 * i], static_cast<uint16_t>(Clip(2500 * left.Next(Noise(seed)))));
      StoreU16(&chunk[4 * i + 2], static_cast<uint16_t>(Clip(2500 * right.Next(Noise(seed)))));
    }
    std::fwrite(chunk.data(), 4, n, f);
  }
  return std::fclose(f) == 0;
}

bool WriteExcerpt(const std::filesystem::path& in, const std::filesystem::path& out, uint32_t first, uint32_t seconds) {
  kestrune::WavInfo info;
  if (!kestrune::OpenWavFile(info, in, false) || info.blockAlign != 4) return false;
  std::vector<uint8_t> data(size_t{seconds} * kRate * 4);
  if (kestrune::ReadWavFrames(info, data.data(), first * kRate, seconds * kRate) != seconds * kRate) return false;
  std::array<uint8_t, 44> header;
  if (!kestrune::MakeWavHeader(header, static_cast<uint32_t>(data.size()), kRate, 4, 1, 2, 16)) return false;
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(header.data(), 1, header.size(), f);
  std::fwrite(data.data(), 1, data.size(), f);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  bool ok = false;
  if (mode == "groove" && (argc == 4 || argc == 5)) {
    ok = WriteGroove(argv[2], std::strtoull(argv[3], nullptr, 10),
                     argc == 5 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 2024u);
  } else if (mode == "pink" && (argc == 4 || argc == 5)) {
    ok = WritePink(argv[2], std::strtoull(argv[3], nullptr, 10),
                   argc == 5 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 2024u);
  } else if (mode == "excerpt" && argc == 6) {
    ok = WriteExcerpt(argv[2], argv[3], static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
                      static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)));
  } else {
    std::fprintf(stderr,
                 "usage: kestrune-bench-input groove OUT.wav SECONDS [SEED]\n"
                 "       kestrune-bench-input pink OUT.wav SECONDS [SEED]\n"
                 "       kestrune-bench-input excerpt IN.wav OUT.wav FIRST_SECOND SECONDS\n");
    return 2;
  }
  if (!ok) std::fprintf(stderr, "kestrune-bench-input: cannot write the file\n");
  return ok ? 0 : 1;
}
