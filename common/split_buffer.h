// The bytes of one split while a job works on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace kestrune {

// Zeroed memory from calloc, whose large blocks are zero pages that cost
// nothing until written: a buffer sized for a long split (up to 17 MB) costs
// only what is put in it.
class SplitBuffer {
 public:
  // Replaces the contents with n zero bytes; throws std::bad_alloc.
  void resize(size_t n) {
    void* p = std::calloc(n == 0 ? 1 : n, 1);
    if (p == nullptr) throw std::bad_alloc();
    bytes_.reset(static_cast<uint8_t*>(p));
    size_ = n;
  }
  uint8_t* data() { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<uint8_t[], Free> bytes_;
  size_t size_ = 0;
};

}  // namespace kestrune
