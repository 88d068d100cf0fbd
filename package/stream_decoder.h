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
#include "package/record_walker.h"
#include "package/whole_entry.h"

namespace package {

enum class StreamState {
  kComplete,   // the stream ended and its check value matched
  kCorrupt,    // zlib rejected the data
  kTruncated,  // the entry's bytes or the package ended before the stream did
  kNoDecoder,  // zlib could not set up its state
  kStopped,    // the caller's onChunk() asked to stop
};

// Buffers and decoder state of one extraction, allocated once.
struct DecodeWorkspace {
  explicit DecodeWorkspace(const ExtractBuffers& sizes)
      : input(std::max<std::size_t>(sizes.input, 1)), output(std::max<std::size_t>(sizes.output, 1)) {}
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  Inflater inflater;
  WholeEntryDecoder whole;
  // A target's bytes, while they are compared with an entry's; sized at the
  // first comparison.
  std::vector<unsigned char> content;
};

// Decodes the current entry of `walker` (a RecordWalker or an EntryReader;
// FileSize 0 is an empty file without a stream). `sink(data, size)` takes
// decoded bytes; `onChunk()` runs after each input chunk has been decoded, and
// once more after bytes left behind a complete stream have been stepped over;
// it returns false to stop there.
template <typename Source, typename Sink, typename OnChunk>
StreamState DecodeStream(Source& walker, DecodeWorkspace& work, Sink&& sink, OnChunk&& onChunk) {
  const std::int64_t fileSize = walker.dataSize();
  if (fileSize <= 0) return fileSize == 0 ? StreamState::kComplete : StreamState::kCorrupt;
  if (!work.inflater.Begin()) return StreamState::kNoDecoder;
  z_stream& z = work.inflater.stream();
  for (;;) {
    const std::size_t got = walker.ReadData(work.input.data(), work.input.size());
    if (got == 0) return StreamState::kTruncated;
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
    if (!onChunk()) return StreamState::kStopped;
    if (ended) {
      const std::uint64_t before = walker.position();
      walker.SkipData();
      if (walker.position() != before && !onChunk()) return StreamState::kStopped;
      return StreamState::kComplete;
    }
  }
}

}  // namespace package
