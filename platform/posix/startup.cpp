#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

std::wstring ProgramPath(std::size_t capacity) {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0) return {};
  std::wstring path = text::FromUtf8(std::string(buffer.data(), static_cast<std::size_t>(length)));
  if (path.size() > capacity) path.resize(capacity);
  return path;
}

// POSIX systems keep programs in no folder of that kind.
std::optional<std::wstring> ProgramFilesFolder() { return std::nullopt; }

void LoadDllsFromSystemFolderOnly() {}

// A running program may remove its own file here; nobody needs to wait.
bool RemoveAfterExit(const std::wstring&, const std::vector<std::wstring>&) {
  errno = ENOTSUP;
  return false;
}

std::optional<int> RunRemovalAfterExit(const std::vector<std::wstring>&) { return std::nullopt; }

}  // namespace platform
