// libdeflate as the build links it (Debian's on Linux, compiled from Debian's
// source for Windows) decodes the engine's zlib streams whole: the bytes zlib
// packed, checked by their Adler-32, and no more than the buffer it is given.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "support/package_bytes.h"

namespace {

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
using Decompressor = std::unique_ptr<libdeflate_decompressor, DecompressorFree>;

// Noise and runs in turn, so the streams hold stored, fixed and dynamic blocks.
std::vector<std::uint8_t> MapLike(std::size_t size) {
  std::vector<std::uint8_t> data = Pattern(size);
  for (std::size_t i = 0; i < size; ++i)
    if ((i / 4096) % 2 == 1) data[i] = static_cast<std::uint8_t>('a' + i % 7);
  return data;
}

struct Decoded {
  libdeflate_result result;
  std::size_t in = 0;
  std::size_t out = 0;
};

Decoded Decode(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& buffer) {
  const Decompressor d(libdeflate_alloc_decompressor());
  if (!d) throw std::bad_alloc();
  Decoded r;
  r.result =
      libdeflate_zlib_decompress_ex(d.get(), stream.data(), stream.size(), buffer.data(), buffer.size(), &r.in, &r.out);
  return r;
}

}  // namespace

TEST(Deflate, DecodesWhatZlibPackedAtEveryLevel) {
  const auto data = MapLike(300 * 1024);
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    const auto stream = Compress(data, level);
    std::vector<std::uint8_t> buffer(data.size());
    const auto r = Decode(stream, buffer);
    EXPECT_EQ(r.result, LIBDEFLATE_SUCCESS);
    EXPECT_EQ(r.in, stream.size());
    EXPECT_EQ(r.out, data.size());
    EXPECT_TRUE(buffer == data);
  }
}

TEST(Deflate, RefusesADamagedChecksumAndABufferTooSmall) {
  const auto data = MapLike(64 * 1024);
  auto stream = Compress(data);
  std::vector<std::uint8_t> buffer(data.size());

  std::vector<std::uint8_t> small(data.size() - 1);
  EXPECT_EQ(Decode(stream, small).result, LIBDEFLATE_INSUFFICIENT_SPACE);

  stream.back() ^= 1;  // the Adler-32's last byte
  EXPECT_EQ(Decode(stream, buffer).result, LIBDEFLATE_BAD_DATA);
}

TEST(Deflate, ReportsAStreamShorterThanItsBuffer) {
  const auto data = MapLike(10000);
  const auto stream = Compress(data);
  std::vector<std::uint8_t> buffer(data.size() + 100);
  const auto r = Decode(stream, buffer);
  EXPECT_EQ(r.result, LIBDEFLATE_SUCCESS);
  EXPECT_EQ(r.out, data.size());
}
