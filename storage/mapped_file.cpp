#include "storage/mapped_file.h"

#include <limits>
#include <utility>

namespace kestrune {
namespace {

std::function<bool(const std::filesystem::path&)>& MappingRefusal() {
  static std::function<bool(const std::filesystem::path&)> refuse;
  return refuse;
}

}  // namespace

void SetMappingRefusalForTesting(std::function<bool(const std::filesystem::path&)> refuse) {
  MappingRefusal() = std::move(refuse);
}

bool OpenMappedFile(MappedFile& file, const std::filesystem::path& path, MapMode mode) {
  CloseMappedFile(file);
  file.fileHandle = platform::File::OpenRead(path, platform::Share::Exclusive);
  if (!file.fileHandle) return false;
  const std::optional<uint64_t> size = file.fileHandle.Size();
  if (!size || *size > std::numeric_limits<uint32_t>::max()) {
    CloseMappedFile(file);
    return false;
  }
  file.size = static_cast<uint32_t>(*size);
  const auto& refuse = MappingRefusal();
  if (!(refuse && refuse(path))) file.view = platform::MappedView::Map(file.fileHandle, file.size);
  if (!file.view && mode == MapMode::MapRequired) {
    CloseMappedFile(file);
    return false;
  }
  return true;
}

void CloseMappedFile(MappedFile& file) {
  file.view.Unmap();
  file.fileHandle.Close();
  file.size = 0;
}

}  // namespace kestrune
