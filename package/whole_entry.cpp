#include "package/whole_entry.h"

#include <libdeflate.h>

#include <cstdint>
#include <new>

#include "platform/file_error.h"

namespace package {

WholeEntryDecoder::WholeEntryDecoder() = default;
WholeEntryDecoder::~WholeEntryDecoder() = default;

void WholeEntryDecoder::Free::operator()(libdeflate_decompressor* decompressor) const noexcept {
  libdeflate_free_decompressor(decompressor);
}

unsigned char* WholeEntryDecoder::Buffer::Reserve(std::size_t size) {
  if (size > capacity) {
    bytes.reset();
    capacity = 0;
    bytes.reset(new unsigned char[size]);
    capacity = size;
  }
  return bytes.get();
}

std::optional<WholeEntryDecoder::Decoded> WholeEntryDecoder::Decode(EntryReader reader, std::uint64_t unpackedSize) {
  const std::int64_t storedSize = reader.dataSize();
  if (storedSize <= 0 || unpackedSize == 0 || unpackedSize > SIZE_MAX ||
      static_cast<std::uint64_t>(storedSize) > SIZE_MAX)
    return std::nullopt;
  const auto storedBytes = static_cast<std::size_t>(storedSize);
  const auto decodedBytes = static_cast<std::size_t>(unpackedSize);
  unsigned char* stored = nullptr;
  unsigned char* decoded = nullptr;
  try {
    if (!decompressor_) decompressor_.reset(libdeflate_alloc_decompressor());
    if (!decompressor_) return std::nullopt;
    stored = stored_.Reserve(storedBytes);
    decoded = decoded_.Reserve(decodedBytes);
    // An entry cut by the package's end reads short here.
    if (reader.ReadData(stored, storedBytes) != storedBytes) return std::nullopt;
  } catch (const FileError&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::size_t consumed = 0;
  // No actual-size argument: anything but exactly `unpackedSize` bytes fails.
  const libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor_.get(), stored, storedBytes, decoded,
                                                                 decodedBytes, &consumed, nullptr);
  if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
  // The stream ends with its Adler-32, most significant byte first.
  const unsigned char* check = stored + consumed - 4;
  const std::uint32_t adler32 = (std::uint32_t{check[0]} << 24) | (std::uint32_t{check[1]} << 16) |
                                (std::uint32_t{check[2]} << 8) | std::uint32_t{check[3]};
  return Decoded{{decoded, decodedBytes}, consumed, adler32};
}

}  // namespace package
