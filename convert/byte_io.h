// Where the converter reads its input from and writes its output to: a file
// or bytes in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace kestrune::convert {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int64_t Size() const = 0;
  // Up to n bytes at offset; fewer only at the end, -1 on a failed read.
  virtual int64_t ReadAt(int64_t offset, void* buffer, size_t n) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int64_t Size() const override { return static_cast<int64_t>(size_); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(platform::File& file);
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t offset, void* buffer, size_t n) override;

 private:
  platform::File& file_;
  int64_t size_ = 0;
};

// The output WAV file: the sample bytes in order, then its header.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Append(const void* bytes, size_t n) = 0;
  virtual bool PutHeader(const std::array<uint8_t, 44>& header) = 0;
};

class MemorySink : public ByteSink {
 public:
  explicit MemorySink(std::vector<uint8_t>& bytes);
  bool Append(const void* bytes, size_t n) override;
  bool PutHeader(const std::array<uint8_t, 44>& header) override;

 private:
  std::vector<uint8_t>& bytes_;
};

// Writes into an open file, the samples after room left for the header.
class FileSink : public ByteSink {
 public:
  explicit FileSink(platform::File& file) : file_(file) {}
  bool Append(const void* bytes, size_t n) override;
  bool PutHeader(const std::array<uint8_t, 44>& header) override;

 private:
  bool Start();
  platform::File& file_;
  bool started_ = false;
};

}  // namespace kestrune::convert
