// Decodes one entry's stored zlib stream from a package, chunk by chunk, into
// a sink. Shared by the extractor and the tool's verification so that both
// judge a stream by the same rules.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "package/inflater.h"
#include "package/package.h"

enum class StreamState {
  kComplete,   // the stream ended and its check value matched
  kCorrupt,    // zlib rejected the data
  kTruncated,  // the entry's bytes or the package ended before the stream did
  kNoDecoder,  // zlib could not set up its state
};

// Buffers and decoder state of one extraction, allocated once.
struct DecodeWorkspace {
  explicit DecodeWorkspace(const ExtractBuffers& sizes)
      : input(std::max<std::size_t>(sizes.input, 1)), output(std::max<std::size_t>(sizes.output, 1)) {}
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  Inflater inflater;
};

// Reads the entry's `fileSize` bytes (0 means an empty file without a
// stream). `sink(data, size)` takes decoded bytes; `onChunk(bytes)` runs
// after each input chunk has been decoded, with the package bytes it covered. Bytes left after a complete stream
// are stepped over, so the package stands at the next record afterwards.
template <typename Sink, typename OnChunk>
StreamState DecodeStream(platform::File& package, std::int64_t fileSize, DecodeWorkspace& work, Sink&& sink,
                         OnChunk&& onChunk) {
  if (fileSize <= 0) return fileSize == 0 ? StreamState::kComplete : StreamState::kCorrupt;
  if (!work.inflater.Begin()) return StreamState::kNoDecoder;
  z_stream& z = work.inflater.stream();
  auto remaining = static_cast<std::uint64_t>(fileSize);
  while (remaining > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, work.input.size()));
    const std::size_t got = package.Read(work.input.data(), want);
    if (got == 0) return StreamState::kTruncated;
    remaining -= got;
    z.next_in = work.input.data();
    z.avail_in = static_cast<uInt>(got);
    bool ended = false;
    // Drain while the output comes back full: zlib may still hold decoded
    // bytes for input it has already consumed.
    do {
      z.next_out = work.output.data();
      z.avail_out = static_cast<uInt>(work.output.size());
      const int result = inflate(&z, Z_NO_FLUSH);
      const std::size_t produced = work.output.size() - z.avail_out;
      if (produced > 0) sink(work.output.data(), produced);
      if (result == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (result == Z_BUF_ERROR) break;  // nothing more without new input
      if (result != Z_OK) return StreamState::kCorrupt;
    } while (z.avail_in > 0 || z.avail_out == 0);
    onChunk(got);
    if (ended) {
      if (remaining > 0) {
        package.Seek(static_cast<std::int64_t>(remaining), platform::File::Origin::kCurrent);
        onChunk(remaining);
      }
      return StreamState::kComplete;
    }
  }
  return StreamState::kTruncated;
}
