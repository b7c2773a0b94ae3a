#include "platform/file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <system_error>

#include "common/utf16.h"

namespace kestrune::platform {
namespace {

HANDLE H(File::Native handle) { return reinterpret_cast<HANDLE>(handle); }
File::Native N(HANDLE handle) { return reinterpret_cast<File::Native>(handle); }

// One ReadFile or WriteFile moves at most this much (its count is 32-bit).
constexpr DWORD kMaxTransfer = 1u << 30;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// Only regular files on a disk: a folder, a pipe, a console or a device such
// as NUL is not a sound file.
HANDLE OpenRegular(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// Reads at an absolute offset. On a handle opened without overlapped I/O the
// call still completes before it returns; it moves the handle's own position,
// which is why File keeps a position of its own.
int64_t ReadAtOffset(HANDLE h, uint64_t offset, void* buffer, size_t n) {
  size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kMaxTransfer));
    OVERLAPPED o = At(offset + done);
    DWORD got = 0;
    if (!::ReadFile(h, out + done, want, &got, &o)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

std::wstring RandomLetters(int count) {
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::wstring name;
  for (int i = 0; i < count; ++i) name += kLetters[random() % (std::size(kLetters) - 1)];
  return name;
}

std::filesystem::path Candidate(const std::filesystem::path& dir, std::string_view prefix) {
  std::filesystem::path name(std::u8string(prefix.begin(), prefix.end()));
  name += RandomLetters(6);
  return dir / name;
}

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Removes what path names; a link or junction is removed itself, never
// followed into.
bool RemoveEntry(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if (!IsFolder(attributes)) return ::DeleteFileW(path.c_str()) != 0;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((path / L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") RemoveEntry(path / name);
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
  }
  return ::RemoveDirectoryW(path.c_str()) != 0;
}

// The system's words for an error, as UTF-8, without the closing full stop
// and line end that FormatMessageW adds.
std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                              message.back() == L'.')) {
    message.pop_back();
  }
  const auto utf8 =
      Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(message.data()), message.size()));
  if (!utf8 || utf8->empty()) return "system error " + std::to_string(error);
  return *utf8;
}

}  // namespace

File File::OpenRead(const std::filesystem::path& path, Share share) {
  const DWORD mode = share == Share::Read ? FILE_SHARE_READ : 0;
  return File(N(OpenRegular(path, GENERIC_READ, mode, OPEN_EXISTING)));
}

File File::OpenWrite(const std::filesystem::path& path) {
  return File(N(OpenRegular(path, GENERIC_WRITE, 0, OPEN_EXISTING)));
}

File File::Create(const std::filesystem::path& path, bool readable) {
  const DWORD access = GENERIC_WRITE | (readable ? GENERIC_READ : 0);
  return File(N(OpenRegular(path, access, 0, CREATE_ALWAYS)));
}

std::optional<uint64_t> File::Size() const {
  LARGE_INTEGER size;
  if (!IsOpen() || !::GetFileSizeEx(H(handle_), &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

int64_t File::Read(void* buffer, size_t n) {
  if (!IsOpen()) return -1;
  const int64_t got = ReadAt(position_, buffer, n);
  if (got > 0) position_ += static_cast<uint64_t>(got);
  return got;
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX) || n > static_cast<uint64_t>(INT64_MAX) - offset) {
    return -1;
  }
  return ReadAtOffset(H(handle_), offset, buffer, n);
}

// Win32 takes the hint only when the file is opened (FILE_FLAG_SEQUENTIAL_SCAN).
void File::AdviseSequential() const {}

bool File::Seek(uint64_t offset) {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  position_ = offset;
  return true;
}

bool File::SeekToEnd() {
  const auto size = Size();
  if (!size) return false;
  position_ = *size;
  return true;
}

std::optional<uint64_t> File::Position() const {
  if (!IsOpen()) return std::nullopt;
  return position_;
}

bool File::Write(const void* buffer, size_t n) {
  if (!IsOpen() || n > static_cast<uint64_t>(INT64_MAX) - position_) return false;
  size_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kMaxTransfer));
    OVERLAPPED o = At(position_);
    DWORD wrote = 0;
    if (!::WriteFile(H(handle_), in + done, want, &wrote, &o) || wrote == 0) return false;
    done += wrote;
    position_ += wrote;
  }
  return true;
}

bool File::Flush() { return IsOpen() && ::FlushFileBuffers(H(handle_)) != 0; }

// Win32 copies between two open handles only through user memory.
std::optional<int64_t> File::CopyTo(File& target, size_t) {
  if (!IsOpen() || !target.IsOpen()) return -1;
  return std::nullopt;
}

void File::Close() {
  if (IsOpen()) {
    ::CloseHandle(H(handle_));
    handle_ = kNoHandle;
    position_ = 0;
  }
}

MappedView MappedView::MapPages(const File& file, size_t size) {
  MappedView view;
  // An empty file has no mapping; the view keeps its mapping object alive.
  HANDLE mapping = ::CreateFileMappingW(H(file.NativeHandle()), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return view;
  void* p = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  ::CloseHandle(mapping);
  if (p == nullptr) return view;
  view.data_ = static_cast<const uint8_t*>(p);
  view.size_ = size;
  return view;
}

void MappedView::ReleasePages(size_t offset, size_t length) const {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const uintptr_t page = info.dwPageSize;
  if (page == 0) return;
  const auto start = reinterpret_cast<uintptr_t>(data_) + offset;
  const uintptr_t first = (start + page - 1) / page * page;
  const uintptr_t end = (start + length) / page * page;
  // Unlocking pages that were never locked takes them out of the working set;
  // they stay cached and come back from the file when touched. The call
  // reports "not locked", which is expected.
  if (first < end) ::VirtualUnlock(reinterpret_cast<void*>(first), end - first);
}

void MappedView::UnmapPages() { ::UnmapViewOfFile(data_); }

std::optional<std::filesystem::path> MakeUniqueFile(const std::filesystem::path& dir,
                                                    std::string_view prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = Candidate(dir, prefix);
    HANDLE h = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return candidate;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

std::filesystem::path TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(std::size(buffer)), buffer);
  if (length > 0 && length < std::size(buffer)) return std::filesystem::path(std::wstring(buffer, length));
  std::error_code ec;
  auto dir = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path(L".") : dir;
}

bool RemoveFile(const std::filesystem::path& path) { return ::DeleteFileW(path.c_str()) != 0; }

PathKind KindOf(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::None;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Other;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::Other;
  return PathKind::File;
}

std::string OpenReadFailure(const std::filesystem::path& path) {
  // As the readers open it: sharing reading only.
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return SystemMessage(::GetLastError());
  ::CloseHandle(h);
  return {};
}

bool FolderIsWritable(const std::filesystem::path& folder) {
  // Access lists decide, and only trying tells: a file of our own that goes
  // when it is closed.
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = Candidate(folder, ".kestrune-");
    HANDLE h = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool CreateFolder(const std::filesystem::path& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

std::optional<std::filesystem::path> MakeUniqueFolder(const std::filesystem::path& dir,
                                                      std::string_view prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = Candidate(dir, prefix);
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) return candidate;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

bool RenamePath(const std::filesystem::path& from, const std::filesystem::path& to) {
  const DWORD fromAttributes = ::GetFileAttributesW(from.c_str());
  if (fromAttributes == INVALID_FILE_ATTRIBUTES) return false;
  if (IsFolder(fromAttributes)) {
    // MoveFileExW moves a folder only to a free name; an empty folder in the
    // way goes first (RemoveDirectoryW refuses one that holds anything).
    if (IsFolder(::GetFileAttributesW(to.c_str())) && !::RemoveDirectoryW(to.c_str())) return false;
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  }
  // A file at to is replaced in one step, and the new name is on the disk
  // before the call returns.
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveTree(const std::filesystem::path& path) {
  RemoveEntry(path);
  return KindOf(path) == PathKind::None;
}

}  // namespace kestrune::platform
