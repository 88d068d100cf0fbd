// Decodes an entry's zlib stream in one call with libdeflate, two to three
// times as fast as zlib's streaming inflate. Only for an entry whose unpacked
// size the size index gives and that fits the decoder's memory budget: its
// stored bytes are read whole, by position, and decoded straight into a
// buffer of exactly that size, the Adler-32 checked.
//
// It decides nothing on its own: whatever it cannot do (a read that fails, a
// stream libdeflate refuses, a size that differs from the index) it leaves to
// the streaming path, which then reads the entry from its start and reports
// the outcome with zlib's rules. So a damaged entry fails exactly as it always
// did, and a sound one gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "package/record_walker.h"

struct libdeflate_decompressor;

namespace package {

class WholeEntryDecoder {
 public:
  WholeEntryDecoder();
  ~WholeEntryDecoder();
  WholeEntryDecoder(const WholeEntryDecoder&) = delete;
  WholeEntryDecoder& operator=(const WholeEntryDecoder&) = delete;

  struct Decoded {
    std::span<const unsigned char> bytes;  // valid until the next Decode
    std::uint64_t consumed = 0;            // stored bytes the stream took, header and check value included
    std::uint32_t adler32 = 0;             // the check value the stream ends with, verified
  };

  // Reads the entry of `reader` (at its start; the copy leaves the caller's
  // alone) and decodes it into exactly `unpackedSize` bytes. nullopt when the
  // streaming path has to decide.
  std::optional<Decoded> Decode(EntryReader reader, std::uint64_t unpackedSize);

 private:
  struct Free {
    void operator()(libdeflate_decompressor* decompressor) const noexcept;
  };
  // Kept between entries and grown to the largest met, never beyond the
  // budget; left uninitialised, since every byte is written before it is read.
  struct Buffer {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t capacity = 0;
    unsigned char* Reserve(std::size_t size);
  };

  std::unique_ptr<libdeflate_decompressor, Free> decompressor_;
  Buffer stored_;
  Buffer decoded_;
};

}  // namespace package
