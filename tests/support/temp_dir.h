// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/path_text.h"

namespace kestrune::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // name is UTF-8, whatever the system's narrow encoding.
  std::filesystem::path operator/(const std::string& name) const { return path_ / PathFromUtf8(name); }

 private:
  std::filesystem::path path_;
};

// Points the system's temporary folder (platform::TempFolder) at folder for
// this process; an empty path restores the default.
void SetTemporaryFolder(const std::filesystem::path& folder);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);

}  // namespace kestrune::test
