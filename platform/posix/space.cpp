#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "platform/platform.h"
#include "platform/posix/path.h"

namespace platform {
namespace {

// "/a/b/" -> "/a/", "/a" -> "/", "/" -> none: the folder one level up.
std::optional<std::string> ParentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  const std::size_t at = path.rfind('/');
  if (path == "/" || at == std::string::npos) return std::nullopt;
  return path.substr(0, at + 1);
}

}  // namespace

std::optional<std::uint64_t> FileSize(const std::wstring& path) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::uint64_t> AvailableSpace(const std::wstring& folder) {
  std::optional<std::string> probe = NativePath(folder);
  while (probe && !probe->empty()) {
    struct statvfs info {};
    if (::statvfs(probe->c_str(), &info) == 0) {
      std::uint64_t bytes = 0;
      if (__builtin_mul_overflow(static_cast<std::uint64_t>(info.f_bavail), static_cast<std::uint64_t>(info.f_frsize),
                                 &bytes))
        bytes = UINT64_MAX;
      return bytes;
    }
    if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
    probe = ParentOf(*probe);
  }
  return std::nullopt;
}

// Binary units with three significant digits, cut rather than rounded, as
// the Windows shell writes them.
std::wstring FormatByteSize(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_wstring(bytes) + L" bytes";
  static const wchar_t* const kUnits[] = {L"KB", L"MB", L"GB", L"TB", L"PB", L"EB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  // 1000 of a unit already read as the next one ("0.97 MB").
  while (value >= 1000.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  const int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
  const double scale = std::pow(10.0, decimals);
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%.*f %ls", decimals, std::floor(value * scale) / scale, kUnits[unit]);
  return text;
}

}  // namespace platform
