#include "fuzz/scratch.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/text.h"

namespace fuzz {

const std::filesystem::path& ScratchRoot() {
  static const std::filesystem::path root = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnholt-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return std::filesystem::path(pattern);
  }();
  return root;
}

void WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out.flush()) std::abort();
}

std::wstring Wide(const std::filesystem::path& path) { return text::FromUtf8(path.string()); }

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

}  // namespace fuzz
