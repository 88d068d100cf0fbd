#include "hardening/sandbox.h"

#include <fcntl.h>
#include <sys/file.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "platform/posix/owners.h"
#include "platform/text.h"

std::wstring Sandbox::Folder(const std::string& relative) const {
  const std::filesystem::path folder = root() / relative;
  std::filesystem::create_directories(folder);
  return text::FromUtf8(folder.string()) + L"/";
}

std::map<std::string, EntryState> Snapshot(const std::filesystem::path& root, const std::filesystem::path& skip) {
  std::map<std::string, EntryState> entries;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    if (!skip.empty() && std::filesystem::equivalent(it->path(), skip)) {
      it.disable_recursion_pending();
      continue;
    }
    EntryState state;
    state.folder = it->is_directory();
    state.modified = it->last_write_time();
    if (!state.folder) {
      state.size = it->file_size();
      state.content = ReadBytes(it->path());
    }
    entries[it->path().lexically_relative(root).generic_string()] = std::move(state);
  }
  return entries;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> NoiseBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes)
    byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

bool NobodyHasOpen(const std::filesystem::path& path) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
}
