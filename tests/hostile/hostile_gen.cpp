// kestrune-hostile-gen FOLDER: writes every hostile case into FOLDER, the WAV
// files under wav/ and each database under databases/<case>/, with a list of
// what the reader must make of each in FOLDER/cases.txt. For trying the
// program by hand, or another reader, on the same inputs.
#include <fstream>
#include <iostream>

#include "hostile/hostile_cases.h"

int main(int argc, char** argv) {
  using namespace kestrune::hostile;
  if (argc != 2) {
    std::cerr << "usage: kestrune-hostile-gen FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder / "wav");
  std::ofstream list(folder / "cases.txt");
  static const char* const kReadings[] = {"refused", "wrong-format", "frames"};
  for (const WavCase& c : WavCases()) {
    const auto path = folder / "wav" / c.name;
    if (c.entry == Entry::File) WriteCaseFiles(folder / "wav", {{c.name, c.bytes}});
    if (c.entry == Entry::Folder) std::filesystem::create_directories(path);
    if (c.entry == Entry::Pipe && !std::filesystem::exists(path)) WriteCaseFiles(folder / "wav", {{c.name + "|", {}}});
    list << "wav/" << c.name << " " << kReadings[static_cast<int>(c.reading)];
    if (c.reading == Reading::Frames) list << " " << c.frames;
    list << "\n";
  }
  static const char* const kOutcomes[] = {"fails", "empty", "result"};
  for (const DatabaseCase& c : DatabaseCases()) {
    WriteCaseFiles(folder / "databases" / c.name, c.files);
    list << "databases/" << c.name << "/db.qlmx " << kOutcomes[static_cast<int>(c.outcome)] << "\n";
  }
  WriteCaseFiles(folder, {{"databases/sample.wav", DatabaseSample()}});
  return list ? 0 : 1;
}
