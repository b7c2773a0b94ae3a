// The platform layer: files, locks, mappings and temporary files.
// The only place in the core that talks to the operating system; a Win32
// implementation can sit beside the POSIX one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::platform {

// How an opened file is shared with other opens of the same file.
enum class Share {
  Read,       // other readers may open it too; an exclusive opener may not
  Exclusive,  // no other open of this file succeeds while this one is open
};

// An open file. Move-only; closes on destruction.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // An existing regular file, for reading.
  static File OpenRead(const std::filesystem::path& path, Share share);
  // An existing regular file, for writing, opened exclusively.
  static File OpenWrite(const std::filesystem::path& path);
  // Creates the file or truncates an existing one; read access too when asked.
  static File Create(const std::filesystem::path& path, bool readable);

  // The system's handle: a file descriptor, or a Win32 HANDLE held as an integer.
  using Native = intptr_t;
  static constexpr Native kNoHandle = -1;

  bool IsOpen() const { return handle_ != kNoHandle; }
  explicit operator bool() const { return IsOpen(); }

  // Current size in bytes, or nothing when it cannot be had.
  std::optional<uint64_t> Size() const;

  // Reads up to n bytes at the current position, stopping early only at the
  // end of the file. Returns the bytes read, or -1 on a failed read.
  int64_t Read(void* buffer, size_t n);
  // The same, at an absolute offset; the current position is not used.
  int64_t ReadAt(uint64_t offset, void* buffer, size_t n) const;
  // Says the file will be read once from start to end, so the system reads
  // further ahead and drops what was read sooner. Only a hint.
  void AdviseSequential() const;
  // Moves the position to an absolute offset (beyond the end is allowed).
  bool Seek(uint64_t offset);
  bool SeekToEnd();
  // Current position, or nothing on failure.
  std::optional<uint64_t> Position() const;
  // Writes all n bytes at the current position; false on a failed or short write.
  bool Write(const void* buffer, size_t n);
  bool Flush();
  // Copies up to n bytes from this file's position to target's position
  // inside the kernel (no copy through user memory), moving both positions.
  // Returns the bytes copied, fewer only at the end of this file, or -1 on a
  // failure (a short or failed write included). Returns nothing, having
  // copied nothing, when the system cannot copy between these two files:
  // the caller then reads and writes.
  std::optional<int64_t> CopyTo(File& target, size_t n);
  void Close();

  Native NativeHandle() const { return handle_; }

 private:
  explicit File(Native handle) : handle_(handle) {}
  Native handle_ = kNoHandle;
  // Where Read and Write go, for systems whose reads at an offset move the
  // file's own position (Win32); POSIX uses the file's position instead.
  uint64_t position_ = 0;
};

// A read-only view of a whole file. Move-only; unmaps on destruction.
class MappedView {
 public:
  MappedView() = default;
  ~MappedView();
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  // Maps the first size bytes of file. An empty file cannot be mapped. A
  // small file is read into memory instead (see kCopiedViewLimit); the view
  // behaves the same either way.
  static MappedView Map(const File& file, uint64_t size);
  static constexpr uint64_t kCopiedViewLimit = 256 * 1024;

  bool IsMapped() const { return data_ != nullptr; }
  explicit operator bool() const { return IsMapped(); }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Gives back the memory of the whole pages within [offset, offset + length)
  // that the process holds for this view. The view stays valid: a later read
  // there brings the bytes back from the file. Only a hint; nothing changes
  // when the system does not take it.
  void Release(size_t offset, size_t length) const;
  void Unmap();

 private:
  // The system's side, one per platform.
  static MappedView MapPages(const File& file, size_t size);
  void ReleasePages(size_t offset, size_t length) const;
  void UnmapPages();

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool copied_ = false;  // data_ is our own memory (new[]), not a mapping
};

// Creates a new empty file with a unique name starting with prefix in dir.
std::optional<std::filesystem::path> MakeUniqueFile(const std::filesystem::path& dir,
                                                    std::string_view prefix);
// The system's folder for temporary files.
std::filesystem::path TempFolder();
// A folder for temporary files whose contents stay in memory (a tmpfs, as
// /dev/shm on Linux), when the system has one we may write in.
std::optional<std::filesystem::path> MemoryFolder();
bool RemoveFile(const std::filesystem::path& path);

// What a path names, without following a final symbolic link.
enum class PathKind { None, File, Folder, Other };
PathKind KindOf(const std::filesystem::path& path);

// Why path cannot be opened for reading, in the system's words ("No such
// file or directory"); empty when it can.
std::string OpenReadFailure(const std::filesystem::path& path);
// True when files can be created in folder.
bool FolderIsWritable(const std::filesystem::path& folder);

// Creates a folder; false when it cannot be made or something is already there.
bool CreateFolder(const std::filesystem::path& path);
// Creates a new empty folder with a unique name starting with prefix in dir.
std::optional<std::filesystem::path> MakeUniqueFolder(const std::filesystem::path& dir,
                                                      std::string_view prefix);
// Gives from the name to, within one file system. A file at to is replaced in
// one step; a folder replaces only an empty folder.
bool RenamePath(const std::filesystem::path& from, const std::filesystem::path& to);
// Removes a file or a folder with everything in it; symbolic links inside are
// removed, never followed. True when nothing is left at path.
bool RemoveTree(const std::filesystem::path& path);

}  // namespace kestrune::platform
