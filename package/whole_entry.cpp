#include "package/whole_entry.h"

#include <libdeflate.h>

#include <new>

#include "platform/file_error.h"

namespace package {

WholeEntryDecoder::WholeEntryDecoder() = default;
WholeEntryDecoder::~WholeEntryDecoder() = default;

void WholeEntryDecoder::Free::operator()(libdeflate_decompressor* decompressor) const noexcept {
  libdeflate_free_decompressor(decompressor);
}

std::optional<WholeEntryDecoder::Decoded> WholeEntryDecoder::Decode(EntryReader reader, std::uint64_t unpackedSize) {
  const std::int64_t storedSize = reader.dataSize();
  if (storedSize <= 0 || unpackedSize == 0) return std::nullopt;
  try {
    if (!decompressor_) decompressor_.reset(libdeflate_alloc_decompressor());
    if (!decompressor_) return std::nullopt;
    stored_.resize(static_cast<std::size_t>(storedSize));
    decoded_.resize(static_cast<std::size_t>(unpackedSize));
    // An entry cut by the package's end reads short here.
    if (reader.ReadData(stored_.data(), stored_.size()) != stored_.size()) return std::nullopt;
  } catch (const FileError&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::size_t consumed = 0;
  // No actual-size argument: anything but exactly `unpackedSize` bytes fails.
  const libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor_.get(), stored_.data(), stored_.size(),
                                                                 decoded_.data(), decoded_.size(), &consumed, nullptr);
  if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
  return Decoded{{decoded_.data(), decoded_.size()}, consumed};
}

}  // namespace package
