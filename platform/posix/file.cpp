#include "platform/file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <system_error>

namespace kestrune::platform {
namespace {

int Fd(File::Native handle) { return static_cast<int>(handle); }

int OpenLocked(const std::filesystem::path& path, int flags, int lockKind) {
  int fd;
  // Non-blocking, so that opening a named pipe (or a device) returns at once
  // instead of waiting, perhaps forever, for its other end; it is refused below.
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  // Only regular files: a directory, a pipe or a device is not a sound file.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, lockKind | LOCK_NB) != 0 ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Past the file-size limit (RLIMIT_FSIZE, as set by "ulimit -f") a write
// raises SIGXFSZ, whose default action ends the process on the spot, leaving
// temporary files and half-made results behind. Ignored, the write fails with
// EFBIG instead, exactly like a write to a full disk, and the job fails
// cleanly. A handler the program installed itself is left alone.
void FailWritesPastTheSizeLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGXFSZ, SIG_IGN);
    }
  });
}

}  // namespace

File File::OpenRead(const std::filesystem::path& path, Share share) {
  return File(OpenLocked(path, O_RDONLY, share == Share::Read ? LOCK_SH : LOCK_EX));
}

File File::OpenWrite(const std::filesystem::path& path) {
  FailWritesPastTheSizeLimit();
  return File(OpenLocked(path, O_WRONLY, LOCK_EX));
}

File File::Create(const std::filesystem::path& path, bool readable) {
  FailWritesPastTheSizeLimit();
  return File(OpenLocked(path, (readable ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC, LOCK_EX));
}

std::optional<uint64_t> File::Size() const {
  struct stat st;
  if (handle_ < 0 || ::fstat(Fd(handle_), &st) != 0 || st.st_size < 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

int64_t File::Read(void* buffer, size_t n) {
  if (handle_ < 0) return -1;
  size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = ::read(Fd(handle_), out + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (handle_ < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = ::pread(Fd(handle_), out + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

void File::AdviseSequential() const {
  if (IsOpen()) ::posix_fadvise(Fd(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool File::Seek(uint64_t offset) {
  if (handle_ < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return ::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool File::SeekToEnd() { return handle_ >= 0 && ::lseek(Fd(handle_), 0, SEEK_END) >= 0; }

std::optional<uint64_t> File::Position() const {
  if (handle_ < 0) return std::nullopt;
  off_t pos = ::lseek(Fd(handle_), 0, SEEK_CUR);
  if (pos < 0) return std::nullopt;
  return static_cast<uint64_t>(pos);
}

bool File::Write(const void* buffer, size_t n) {
  if (handle_ < 0) return false;
  size_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < n) {
    ssize_t w = ::write(Fd(handle_), in + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

bool File::Flush() { return handle_ >= 0 && ::fsync(Fd(handle_)) == 0; }

namespace {

// Errors that mean "not between these files here", not a failed copy.
bool CannotCopyHere(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

}  // namespace

std::optional<int64_t> File::CopyTo(File& target, size_t n) {
  if (handle_ < 0 || target.handle_ < 0) return -1;
  size_t done = 0;
  bool useSendfile = false;
  while (done < n) {
    // Both calls use and move the two files' positions.
    const ssize_t r = useSendfile ? ::sendfile(Fd(target.handle_), Fd(handle_), nullptr, n - done)
                                  : ::copy_file_range(Fd(handle_), nullptr, Fd(target.handle_), nullptr, n - done, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (done == 0 && CannotCopyHere(errno)) {
        if (useSendfile) return std::nullopt;
        useSendfile = true;  // copy_file_range cannot; sendfile copies between any two files
        continue;
      }
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

void File::Close() {
  if (handle_ >= 0) {
    ::close(Fd(handle_));  // also releases the lock
    handle_ = kNoHandle;
  }
}

MappedView MappedView::MapPages(const File& file, size_t size) {
  MappedView view;
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, Fd(file.NativeHandle()), 0);
  if (p == MAP_FAILED) return view;
  view.data_ = static_cast<const uint8_t*>(p);
  view.size_ = size;
  return view;
}

void MappedView::ReleasePages(size_t offset, size_t length) const {
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  if (page == 0 || page == static_cast<uintptr_t>(-1)) return;
  const auto start = reinterpret_cast<uintptr_t>(data_) + offset;
  const uintptr_t first = (start + page - 1) / page * page;
  const uintptr_t end = (start + length) / page * page;
  // A private read-only mapping that was never written: dropping its pages
  // loses nothing, they are read again from the file when touched.
  if (first < end) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

void MappedView::UnmapPages() { ::munmap(const_cast<uint8_t*>(data_), size_); }

std::optional<std::filesystem::path> MakeUniqueFile(const std::filesystem::path& dir,
                                                    std::string_view prefix) {
  // Like mkstemp, but with the usual permissions (the umask applies), since
  // the file may become a result the user keeps.
  FailWritesPastTheSizeLimit();
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    const std::filesystem::path candidate = dir / name;
    int fd;
    do {
      fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::filesystem::path TempFolder() {
  std::error_code ec;
  auto dir = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path("/tmp") : dir;
}

std::optional<std::filesystem::path> MemoryFolder() {
#ifdef __linux__
  // tmpfs's magic number, as <linux/magic.h> gives it.
  constexpr unsigned long kTmpfsMagic = 0x01021994;
  const std::filesystem::path shm = "/dev/shm";
  struct statfs fs {};
  if (::statfs(shm.c_str(), &fs) == 0 && static_cast<unsigned long>(fs.f_type) == kTmpfsMagic &&
      ::access(shm.c_str(), W_OK | X_OK) == 0) {
    return shm;
  }
#endif
  return std::nullopt;
}

bool RemoveFile(const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0; }

std::string OpenReadFailure(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  return std::strerror(errno);
}

bool FolderIsWritable(const std::filesystem::path& folder) {
  struct stat st;  // follows links: a linked folder is a folder here
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

PathKind KindOf(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return PathKind::None;
  if (S_ISREG(st.st_mode)) return PathKind::File;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

bool CreateFolder(const std::filesystem::path& path) { return ::mkdir(path.c_str(), 0777) == 0; }

std::optional<std::filesystem::path> MakeUniqueFolder(const std::filesystem::path& dir,
                                                      std::string_view prefix) {
  std::string pattern = (dir / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  return std::filesystem::path(pattern);
}

bool RenamePath(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveTree(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return !ec && KindOf(path) == PathKind::None;
}

}  // namespace kestrune::platform
