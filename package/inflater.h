// One zlib inflate state, set up on first use and reset for every further
// stream, so a package of many small files does not allocate per file.
#pragma once

#include <zlib.h>

#include <memory>

#include "package/zlib_stream.h"

namespace package {

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
  UniqueInflateStream stream_;
};

}  // namespace package
