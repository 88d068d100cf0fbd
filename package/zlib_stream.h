// Owners of zlib's stream states, so that every inflate and deflate state is
// ended on every path like any other resource.
#pragma once

#include <zlib.h>

#include "platform/unique_resource.h"

namespace package {

// A z_stream on the heap: zlib keeps a pointer back to it, so it must not
// move. `End` is inflateEnd or deflateEnd.
template <int (*End)(z_streamp)>
struct ZlibStreamTraits {
  using Handle = z_stream*;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle stream) noexcept {
    const bool ended = End(stream) == Z_OK;
    delete stream;
    return ended;
  }
};

using UniqueInflateStream = platform::UniqueResource<ZlibStreamTraits<inflateEnd>>;
using UniqueDeflateStream = platform::UniqueResource<ZlibStreamTraits<deflateEnd>>;

}  // namespace package
