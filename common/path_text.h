// Paths to and from UTF-8 text. A plain std::string converts through the
// system's narrow encoding, which on Windows is an ANSI code page that cannot
// hold every file name; these go through char8_t and keep every name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrune {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kestrune
