// A folder of the fuzzer's own under the temporary folder, made once per
// process; every input writes its files there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fuzz {

const std::filesystem::path& ScratchRoot();
void WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);
std::wstring Wide(const std::filesystem::path& path);
// Open descriptors of the process: a leaked file shows up here, not in LSan.
std::size_t OpenDescriptors();

}  // namespace fuzz
