// One zlib inflate state, set up on first use and reset for every further
// stream, so a package of many small files does not allocate per file.
#pragma once

#include <zlib.h>

#include <memory>

#include "platform/unique_resource.h"

// A z_stream on the heap: zlib keeps a pointer back to it, so it must not move.
struct InflateStreamTraits {
  using Handle = z_stream*;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle stream) noexcept {
    const bool ended = inflateEnd(stream) == Z_OK;
    delete stream;
    return ended;
  }
};

class Inflater {
 public:
  // Prepares for a new zlib stream (default 32 KiB window). False when zlib
  // cannot set up its state.
  bool Begin() {
    if (stream_) return inflateReset(stream_.Get()) == Z_OK;
    auto fresh = std::make_unique<z_stream>();
    if (inflateInit(fresh.get()) != Z_OK) return false;
    stream_.Reset(fresh.release());
    return true;
  }

  z_stream& stream() { return *stream_.Get(); }

 private:
  platform::UniqueResource<InflateStreamTraits> stream_;
};
