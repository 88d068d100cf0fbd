// One zlib inflate state, set up on first use and reset for every further
// stream, so a package of many small files does not allocate per file.
#pragma once

#include <zlib.h>

class Inflater {
 public:
  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }

  // Prepares for a new zlib stream (default 32 KiB window). False when zlib
  // cannot set up its state.
  bool Begin() {
    if (ready_) return inflateReset(&stream_) == Z_OK;
    stream_ = z_stream{};
    ready_ = inflateInit(&stream_) == Z_OK;
    return ready_;
  }

  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};
