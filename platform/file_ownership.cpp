// What File and MappedView do the same way on every system: a handle or a
// view has one owner, and the owner gives it back.
#include <utility>

#include "platform/file.h"

namespace kestrune::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), position_(std::exchange(other.position_, 0)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoHandle);
    position_ = std::exchange(other.position_, 0);
  }
  return *this;
}

MappedView::~MappedView() { Unmap(); }

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

}  // namespace kestrune::platform
