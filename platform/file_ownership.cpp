// What File does the same way on every system: a handle has one owner, and
// the owner gives it back.
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

}  // namespace kestrune::platform
