#include "convert/byte_io.h"

#include <algorithm>
#include <cstring>

namespace kestrune::convert {

int64_t MemorySource::ReadAt(int64_t offset, void* buffer, size_t n) {
  if (offset < 0) return -1;
  if (static_cast<uint64_t>(offset) >= size_) return 0;
  const size_t count = std::min(n, size_ - static_cast<size_t>(offset));
  std::memcpy(buffer, data_ + offset, count);
  return static_cast<int64_t>(count);
}

FileSource::FileSource(platform::File& file) : file_(file) {
  const auto size = file.Size();
  size_ = size && *size <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(*size) : 0;
}

int64_t FileSource::ReadAt(int64_t offset, void* buffer, size_t n) {
  if (offset < 0) return -1;
  return file_.ReadAt(static_cast<uint64_t>(offset), buffer, n);
}

MemorySink::MemorySink(std::vector<uint8_t>& bytes) : bytes_(bytes) { bytes_.assign(44, 0); }

bool MemorySink::Append(const void* bytes, size_t n) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  bytes_.insert(bytes_.end(), p, p + n);
  return true;
}

bool MemorySink::PutHeader(const std::array<uint8_t, 44>& header) {
  std::copy(header.begin(), header.end(), bytes_.begin());
  return true;
}

bool FileSink::Start() {
  if (started_) return true;
  static const std::array<uint8_t, 44> kRoom{};
  started_ = file_.Seek(0) && file_.Write(kRoom.data(), kRoom.size());
  return started_;
}

bool FileSink::Append(const void* bytes, size_t n) { return Start() && file_.Write(bytes, n); }

bool FileSink::PutHeader(const std::array<uint8_t, 44>& header) {
  return Start() && file_.Seek(0) && file_.Write(header.data(), header.size()) && file_.Flush();
}

}  // namespace kestrune::convert
