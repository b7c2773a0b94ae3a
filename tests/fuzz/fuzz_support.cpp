#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/file.h"

namespace kestrune::fuzz {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    // In memory where the system allows: the database target writes and
    // removes a handful of files for every input.
    const std::filesystem::path base = platform::MemoryFolder().value_or(platform::TempFolder());
    std::optional<std::filesystem::path> made = platform::MakeUniqueFolder(base, "kestrune-fuzz-");
    Require(made.has_value(), "a scratch folder can be made");
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return *made;
  }();
  return folder;
}

void WriteFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size) {
  // Through the platform layer: a stream's set-up cost more than the write.
  platform::File out = platform::File::Create(path, false);
  if (out && size > 0) out.Write(bytes, size);
}

DatabaseInput SplitDatabaseInput(const uint8_t* data, size_t size) {
  DatabaseInput input;
  if (size < 2) return input;
  input.flags = data[0];
  input.similarity = data[1];
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  size_t from = 0;
  while (true) {
    const size_t at = rest.find(kPartSeparator, from);
    const std::string_view part = rest.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from);
    // From byte pointers, so the copy is one block move rather than a loop
    // converting char by char.
    const auto* first = reinterpret_cast<const uint8_t*>(part.data());
    input.parts.emplace_back(first, first + part.size());
    if (at == std::string_view::npos) break;
    from = at + kPartSeparator.size();
  }
  return input;
}

std::vector<uint8_t> JoinDatabaseInput(const DatabaseInput& input) {
  std::vector<uint8_t> out = {input.flags, input.similarity};
  for (size_t i = 0; i < input.parts.size(); ++i) {
    if (i > 0) out.insert(out.end(), kPartSeparator.begin(), kPartSeparator.end());
    out.insert(out.end(), input.parts[i].begin(), input.parts[i].end());
  }
  return out;
}

}  // namespace kestrune::fuzz
