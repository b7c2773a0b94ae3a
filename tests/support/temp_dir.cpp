#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/file.h"

namespace kestrune::test {

TempDir::TempDir() {
  auto file = platform::MakeUniqueFile(platform::TempFolder(), "kestrune-test-");
  if (!file) throw std::runtime_error("cannot make a temporary name");
  // Reuse the unique name for a folder.
  std::filesystem::remove(*file);
  std::filesystem::create_directory(*file);
  path_ = *file;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestrune::test
