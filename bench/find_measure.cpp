// Measures the search for a piece anywhere on a folder of music: fragments
// cut at random offsets (as cut, 6 dB quieter, or with white noise 20 dB
// below them) are searched in their own recording (top-1 within 1024 frames,
// distance, confident) and in another recording, or in all the others at
// once, or in one long recording made of all the others one after another
// (how often one is wrongly called confident).
//
//   kestrune-find-measure DIR [--trials N] [--seed S] [--fragments 1,2,8]
//       [--split-ms 500] [--hop 128] [--others N] [--folder N] [--long N]
//       [--threads N] [--lead-in 1] [--only SONG:OFFSET,...] [--background-only 1]
//       [--near-end 1]
//
// --only searches only the drawn fragments of those songs at those offsets
// (as printed), with the same noise as in the full run of the same options:
// to look at one search again.
//
// --background-only 1 searches only the fragments that have background
// blocks (docs/find.md), the others drawn as before but not searched: the
// only fragments a change to how background counts can change.
//
// With --near-end 1 every fragment ends in its song's last 5 s (the last
// sound's reverb tail and the renderer's idle output after it): the case
// where a tail agrees with any song's tail.
//
// With --lead-in 1 every fragment begins in the silence before its song's
// first sound (at most half the fragment before it): the case where masks
// pulled down by silence agree with any song's first chord.
//
// Prints one line per search (kind, song, offset, F, condition, frame found,
// distance, similarity, z, score, confident, then the parts of the score)
// and a summary per group.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "matching/find_request.h"
#include "matching/find_source.h"
#include "storage/wav_file.h"

namespace {

using namespace kestrune;

struct Song {
  std::filesystem::path path;
  std::vector<int16_t> samples;
};

std::vector<int16_t> Load(const std::filesystem::path& path) {
  std::string error;
  auto audio = OpenFindAudio(path, error);
  if (!audio) return {};
  std::vector<int16_t> samples(size_t{audio->Frames()} * 2);
  audio->Read(0, audio->Frames(), reinterpret_cast<uint8_t*>(samples.data()));
  return samples;
}

void Save(const std::filesystem::path& path, const std::vector<int16_t>& samples) {
  std::array<uint8_t, 44> header{};
  MakeWavHeader(header, static_cast<uint32_t>(samples.size() * 2), 44100, 4, 1, 2, 16);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), header.size());
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

enum Condition { kCut, kQuiet, kNoise };
const char* kConditionNames[] = {"cut", "quiet", "noise"};

std::vector<int16_t> Fragment(const Song& song, size_t first, size_t frames, Condition c, std::mt19937& rng) {
  std::vector<int16_t> f(song.samples.begin() + 2 * first, song.samples.begin() + 2 * (first + frames));
  if (c == kQuiet) {
    for (auto& v : f) v = static_cast<int16_t>(std::lround(v * 0.5));
  } else if (c == kNoise) {
    double power = 0.0;
    for (int16_t v : f) power += double(v) * v;
    const double rms = std::sqrt(power / std::max<size_t>(1, f.size())) * 0.1;  // 20 dB below
    std::normal_distribution<double> noise(0.0, rms);
    for (auto& v : f) v = static_cast<int16_t>(std::clamp(std::lround(v + noise(rng)), -32768L, 32767L));
  }
  return f;
}

struct Tally {
  int searches = 0, top1 = 0, confident = 0;
  std::vector<double> distances;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kestrune-find-measure DIR [--trials N] [--seed S] [--fragments 1,2,8] [--split-ms MS] "
                         "[--hop H] [--others N] [--folder N] [--long N] [--threads N] [--lead-in 1] [--only SONG:OFFSET,...] [--background-only 1] [--near-end 1]\n");
    return 2;
  }
  std::filesystem::path dir = argv[1];
  int trials = 100, others = 1, folder = 0, longTrials = 0, leadIn = 0, backgroundOnly = 0, nearEnd = 0;
  uint32_t seed = 1, splitMs = 500, hop = 128, threads = 0;
  std::vector<uint32_t> fragments = {1, 2, 8};
  std::vector<std::pair<size_t, size_t>> only;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--trials") trials = std::stoi(v);
    else if (k == "--seed") seed = static_cast<uint32_t>(std::stoul(v));
    else if (k == "--split-ms") splitMs = static_cast<uint32_t>(std::stoul(v));
    else if (k == "--hop") hop = static_cast<uint32_t>(std::stoul(v));
    else if (k == "--others") others = std::stoi(v);
    else if (k == "--folder") folder = std::stoi(v);
    else if (k == "--long") longTrials = std::stoi(v);
    else if (k == "--threads") threads = static_cast<uint32_t>(std::stoul(v));
    else if (k == "--lead-in") leadIn = std::stoi(v);
    else if (k == "--background-only") backgroundOnly = std::stoi(v);
    else if (k == "--near-end") nearEnd = std::stoi(v);
    else if (k == "--only") {
      for (size_t at = 0; at < v.size();) {
        const size_t comma = v.find(',', at);
        const std::string item = v.substr(at, comma - at);
        const size_t colon = item.find(':');
        if (colon != std::string::npos) only.emplace_back(std::stoul(item.substr(0, colon)), std::stoul(item.substr(colon + 1)));
        at = comma == std::string::npos ? v.size() : comma + 1;
      }
    }
    else if (k == "--fragments") {
      fragments.clear();
      for (size_t at = 0; at < v.size();) {
        const size_t comma = v.find(',', at);
        fragments.push_back(static_cast<uint32_t>(std::stoul(v.substr(at, comma - at))));
        at = comma == std::string::npos ? v.size() : comma + 1;
      }
    }
  }
  std::vector<Song> songs;
  for (const auto& e : ListSourceFiles(dir)) {
    if (!e.error.empty()) continue;
    Song s{e.path, Load(e.path)};
    if (!s.samples.empty()) songs.push_back(std::move(s));
  }
  if (songs.size() < 2) {
    std::fprintf(stderr, "need at least two WAV files in %s\n", dir.c_str());
    return 1;
  }
  const auto temp = std::filesystem::temp_directory_path() / ("kestrune-find-measure-" + std::to_string(seed));
  std::filesystem::create_directories(temp);
  const auto samplePath = temp / "fragment.wav";
  std::mt19937 rng(seed);
  const uint32_t fps = splitMs * 44100 / 1000;
  std::map<std::string, Tally> tallies;

  auto search = [&](const std::vector<std::filesystem::path>& sources, uint32_t f) {
    FindJob job;
    job.request.samplePath = samplePath;
    job.request.sources = sources;
    job.request.splitMilliseconds = splitMs;
    job.request.fragmentLength = f;
    job.request.hop = hop;
    job.request.top = 1;
    job.request.threads = threads;
    RunFind(job.request, job.result, nullptr);
    return job.result;
  };
  std::printf("kind\tsong\toffset\tF\tcondition\tfound\tdistance\tsimilarity\tz\tscore\tconfident\tlower_z\tmedian\t"
              "lower_deviation\tdeviation\texcess\texcess_median\texcess_lower_deviation\tstarts\tstarts_searched\tscore_full\t"
              "score_deviation\tallowance\tinformative_blocks\tshrink\tcompared_templates\n");
  // The fragments are drawn first and searched song by song, so that the
  // long recording without a song is written once for all its fragments.
  struct Trial {
    int t;
    size_t a, offset;
    uint32_t f;
    Condition c;
    uint32_t noiseSeed;
  };
  std::vector<Trial> drawn;
  for (int t = 0; t < trials; ++t) {
    const size_t a = rng() % songs.size();
    const uint32_t f = fragments[rng() % fragments.size()];
    const auto c = static_cast<Condition>(rng() % 3);
    const size_t frames = size_t{f} * fps;
    if (songs[a].samples.size() / 2 <= frames + 44100) continue;
    // A start anywhere but in the silence at the ends of the song.
    const size_t span = songs[a].samples.size() / 2 - frames - 44100;
    size_t offset = 22050 + rng() % span;
    if (nearEnd != 0) offset = songs[a].samples.size() / 2 - frames - rng() % (5 * 44100);
    if (leadIn != 0) {
      // The first frame louder than the renderer's idle output (it wobbles
      // between 0 and -1, so the lead-in is not digital silence).
      const auto& v = songs[a].samples;
      size_t sound = 0;
      while (2 * sound + 1 < v.size() && std::abs(v[2 * sound]) <= 64 && std::abs(v[2 * sound + 1]) <= 64) ++sound;
      const size_t before = 1 + rng() % (frames / 2);
      if (sound < before || sound - before + frames > v.size() / 2) continue;
      offset = sound - before;
    }
    drawn.push_back({t, a, offset, f, c, static_cast<uint32_t>(rng())});
  }
  if (!only.empty()) {
    std::erase_if(drawn, [&](const Trial& x) { return std::find(only.begin(), only.end(), std::pair{x.a, x.offset}) == only.end(); });
  }
  std::stable_sort(drawn.begin(), drawn.end(), [](const Trial& x, const Trial& y) { return x.a < y.a; });
  const auto longPath = temp / "long.wav";
  size_t longSong = SIZE_MAX;
  for (const Trial& trial : drawn) {
    const int t = trial.t;
    const size_t a = trial.a, offset = trial.offset;
    const uint32_t f = trial.f;
    const Condition c = trial.c;
    const size_t frames = size_t{f} * fps;
    std::mt19937 noiseRng(trial.noiseSeed);
    Save(samplePath, Fragment(songs[a], offset, frames, c, noiseRng));

    auto report = [&](const std::string& kind, const FindResult& r, bool own) {
      if (!r.searched || r.matches.empty()) return;
      const FindMatch& m = r.matches.front();
      const double distance = std::fabs(double(m.frame) - double(offset));
      const FindSourceStatus& st = r.sources[m.source];
      const double robust = st.lowerDeviation > 0 ? (m.similarity - st.median) / st.lowerDeviation : 0.0;
      std::printf("%s\t%zu\t%zu\t%u\t%s\t%u\t%.0f\t%.2f\t%.2f\t%.2f\t%d\t%.2f\t%.2f\t%.2f\t%.2f\t%.3f\t%.3f\t%.3f\t%llu\t%llu\t%.17g\t%.6f\t%.6f\t%.4f\t%.6f\t%.4f\n",
                  kind.c_str(), a, offset, f, kConditionNames[c], m.frame, own ? distance : -1.0, m.similarity, m.z, m.score,
                  m.confident ? 1 : 0, robust, st.median, st.lowerDeviation, st.deviation, m.excess, st.excessMedian,
                  st.excessLowerDeviation, static_cast<unsigned long long>(st.starts),
                  static_cast<unsigned long long>(r.startsSearched), m.score, m.scoreDeviation, r.scoreAllowance,
                  r.informativeBlocks, r.scoreShrink, r.comparedTemplates);
      std::fflush(stdout);
      Tally& tally = tallies[kind + " F=" + std::to_string(f) + " " + kConditionNames[c]];
      tally.searches++;
      tally.confident += m.confident ? 1 : 0;
      if (own) {
        tally.top1 += distance <= 1024 ? 1 : 0;
        tally.distances.push_back(distance);
      }
    };
    const FindResult own = search({songs[a].path}, f);
    const bool skip = backgroundOnly != 0 && !(own.comparedTemplates < f);
    if (!skip) report("own", own, true);
    for (int o = 0; o < others; ++o) {
      size_t b = rng() % (songs.size() - 1);
      if (b >= a) ++b;
      if (!skip) report("other", search({songs[b].path}, f), false);
    }
    if (skip) continue;
    if (t < folder) {
      std::vector<std::filesystem::path> rest;
      for (size_t i = 0; i < songs.size(); ++i) {
        if (i != a) rest.push_back(songs[i].path);
      }
      report("folder", search(rest, f), false);
    }
    if (t < longTrials) {
      // All other songs as one recording (about an hour for 64 one-minute songs).
      if (longSong != a) {
        std::vector<int16_t> joined;
        size_t total = 0;
        for (size_t i = 0; i < songs.size(); ++i) total += i != a ? songs[i].samples.size() : 0;
        joined.reserve(total);
        for (size_t i = 0; i < songs.size(); ++i) {
          if (i != a) joined.insert(joined.end(), songs[i].samples.begin(), songs[i].samples.end());
        }
        Save(longPath, joined);
        longSong = a;
      }
      report("long", search({longPath}, f), false);
    }
  }
  std::printf("\nsummary\tsearches\ttop1_within_1024\tmedian_distance\tconfident\n");
  for (auto& [name, tally] : tallies) {
    std::sort(tally.distances.begin(), tally.distances.end());
    const double median = tally.distances.empty() ? -1.0 : tally.distances[tally.distances.size() / 2];
    std::printf("%s\t%d\t%d\t%.0f\t%d\n", name.c_str(), tally.searches, tally.top1, median, tally.confident);
  }
  std::filesystem::remove_all(temp);
  return 0;
}
