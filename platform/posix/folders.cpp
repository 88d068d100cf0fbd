#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/posix/path.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11'644'473'600;

std::uint64_t ToFileTime(const timespec& t) {
  const auto seconds = static_cast<std::int64_t>(t.tv_sec) + static_cast<std::int64_t>(kEpochDifference);
  if (seconds < 0) return 0;
  return static_cast<std::uint64_t>(seconds) * kTicksPerSecond + static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

timespec FromFileTime(std::uint64_t ticks) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                                 static_cast<std::int64_t>(kEpochDifference));
  t.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
  return t;
}

bool IsDirectory(const std::string& native) {
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder, after its missing parents: one look when it stands already,
// which is nearly always, rather than a mkdir for every level.
bool MakeFolders(const std::string& native) {
  if (IsDirectory(native)) return true;
  if (::mkdir(native.c_str(), 0777) == 0) return true;
  if (errno == ENOENT) {
    const std::size_t slash = native.find_last_of('/');
    const std::size_t cut = slash == std::string::npos ? slash : native.find_last_not_of('/', slash);
    if (cut == std::string::npos || !MakeFolders(native.substr(0, cut + 1))) return false;
    if (::mkdir(native.c_str(), 0777) == 0) return true;
  }
  // Another may have made it meanwhile; a file of that name is no folder.
  if (errno != EEXIST) return false;
  if (IsDirectory(native)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace

std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  const UniqueDir dir(::opendir(NativePath(folder.empty() ? L"." : folder).c_str()));
  if (!dir) return names;
  const std::string nativePattern = NativePath(pattern);
  while (const dirent* entry = ::readdir(dir.Get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (::fnmatch(nativePattern.c_str(), name.c_str(), FNM_PERIOD) == 0) names.push_back(text::FromUtf8(name));
  }
  return names;
}

bool CreateFolderTree(const std::wstring& path) {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kCreateFolder, path)) {
    errno = static_cast<int>(*code);
    return false;
  }
#endif
  const std::string native = NativePath(path);
  if (native.empty()) {
    errno = ENOENT;
    return false;
  }
  return MakeFolders(native);
}

bool GetFileTimes(const std::wstring& path, FileTimes* times) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0) return false;
  times->creation = 0;  // POSIX keeps no creation time that can be set
  times->lastAccess = ToFileTime(info.st_atim);
  times->lastWrite = ToFileTime(info.st_mtim);
  return true;
}

std::optional<FileLook> LookAtFile(const std::wstring& path) {
  struct stat info {};
  // Not through a link: the file behind it is not the one a run wrote there.
  if (::lstat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileLook{static_cast<std::uint64_t>(info.st_size), ToFileTime(info.st_mtim)};
}

bool SetFileTimes(const std::wstring& path, const FileTimes& times) {
  timespec both[2];
  both[0] = times.lastAccess ? FromFileTime(times.lastAccess) : timespec{0, UTIME_OMIT};
  both[1] = times.lastWrite ? FromFileTime(times.lastWrite) : timespec{0, UTIME_OMIT};
  return ::utimensat(AT_FDCWD, NativePath(path).c_str(), both, 0) == 0;
}

bool RemoveFile(const std::wstring& path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool RemoveUnusedFile(const std::wstring& path) {
  const std::string native = NativePath(path);
  const UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!fd) return false;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  // Every File takes this lock while it is open, so a file that another run
  // is still writing is not taken from under it.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    errno = EBUSY;
    return false;
  }
  return ::unlink(native.c_str()) == 0;
}

// Nothing here removes files at a restart.
bool RemoveAtRestart(const std::wstring&) {
  errno = ENOTSUP;
  return false;
}

bool IsFolder(const std::wstring& path) { return IsDirectory(NativePath(path)); }

bool IsLink(const std::wstring& path) {
  struct stat info {};
  return ::lstat(NativePath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool RemoveEmptyFolder(const std::wstring& path) noexcept {
  try {
    return ::rmdir(NativePath(path).c_str()) == 0;
  } catch (...) {  // the conversion's allocation
    errno = ENOMEM;
    return false;
  }
}

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) {
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'/') base += L'/';
  std::random_device seed;
  unsigned start = seed() & 0xFFFF;
  for (unsigned i = 0; i < 0x10000; ++i) {
    wchar_t hex[8];
    std::swprintf(hex, 8, L"%X", (start + i) & 0xFFFF);
    const std::wstring candidate = base + prefix.substr(0, 3) + hex + L".tmp";
    const UniqueFd fd(::open(NativePath(candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd) return candidate;
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace platform
