// An existing file opened for exclusive reading and, as far as possible,
// mapped whole into memory. Its size and mapping are fixed when it is opened:
// it never grows, is never written and never remapped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/file.h"

namespace kestrune {

enum class MapMode {
  MapRequired,  // the open fails when the file cannot be mapped
  MapOptional,  // a file that cannot be mapped stays open, to be read through its handle
};

// Closed: no file, no view, size 0. Open: a file and its size, with or without
// a view of the whole file. Releases everything on destruction.
struct MappedFile {
  platform::File fileHandle;  // opened with Share::Exclusive
  platform::MappedView view;  // read-only view of the whole file; empty when not mapped
  uint32_t size = 0;          // bytes when opened

  bool IsOpen() const { return fileHandle.IsOpen(); }
  bool IsMapped() const { return view.IsMapped(); }
  const uint8_t* data() const { return view.data(); }

  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
};

// Opens path exclusively: while it is open, no other open of the same file, in
// this process or another, succeeds. Files of 4 GiB or more are refused. With
// MapOptional a file that cannot be mapped (an empty one, for instance) opens
// unmapped. On failure the file is left closed.
bool OpenMappedFile(MappedFile& file, const std::filesystem::path& path, MapMode mode);

// Unmaps and closes; closing a closed file does nothing.
void CloseMappedFile(MappedFile& file);

// Lets tests take the road of a file that cannot be mapped (one too large for
// the address space) with an ordinary file: while set, a path for which refuse
// returns true is opened as if its mapping had failed. Not for production use.
void SetMappingRefusalForTesting(std::function<bool(const std::filesystem::path&)> refuse);

}  // namespace kestrune
