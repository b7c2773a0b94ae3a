// What a MappedView does the same way on every system: small files are read
// into memory rather than mapped, and a view has one owner.
#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "platform/file.h"

namespace kestrune::platform {

// Below the limit a read costs less than a mapping: setting one up and
// tearing it down (page tables, and a flush of the address cache on every
// core the process ran on) takes longer than copying the bytes, and a copy
// does not fault when another program truncates the file under us.
MappedView MappedView::Map(const File& file, uint64_t size) {
  if (!file.IsOpen() || size == 0 || size > SIZE_MAX) return {};
  if (size > kCopiedViewLimit) return MapPages(file, static_cast<size_t>(size));
  const auto n = static_cast<size_t>(size);
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[n]);
  // A file shorter than asked fails, as touching a mapping beyond its end would.
  if (!bytes || file.ReadAt(0, bytes.get(), n) != static_cast<int64_t>(n)) return {};
  MappedView view;
  view.data_ = bytes.release();
  view.size_ = n;
  view.copied_ = true;
  return view;
}

void MappedView::Release(size_t offset, size_t length) const {
  if (data_ == nullptr || copied_ || offset >= size_) return;
  ReleasePages(offset, std::min(length, size_ - offset));
}

void MappedView::Unmap() {
  if (data_ == nullptr) return;
  if (copied_) {
    delete[] data_;
  } else {
    UnmapPages();
  }
  data_ = nullptr;
  size_ = 0;
  copied_ = false;
}

MappedView::~MappedView() { Unmap(); }

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      copied_(std::exchange(other.copied_, false)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    copied_ = std::exchange(other.copied_, false);
  }
  return *this;
}

}  // namespace kestrune::platform
