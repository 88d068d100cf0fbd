#include "package/writer.h"

#include <zlib.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "package/zlib_stream.h"

namespace package {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

// One deflate state; ends itself.
class Deflater {
 public:
  explicit Deflater(int level) {
    auto fresh = std::make_unique<z_stream>();
    if (deflateInit(fresh.get(), level) != Z_OK) throw std::bad_alloc();
    stream_.Reset(fresh.release());
  }
  z_stream& stream() { return *stream_.Get(); }

 private:
  UniqueDeflateStream stream_;
};

}  // namespace

PackageWriter::PackageWriter(const std::wstring& path, const PackageHeader& header, int level) : level_(level) {
  FileError error;
  if (!file_.Open(path, platform::File::Mode::kCreateWriteExclusive, &error)) throw error;
  try {
    file_.Write(header.bytes.data(), header.bytes.size());
  } catch (...) {
    // The file was created for this package: a half-written one must not stay.
    file_ = platform::File();
    platform::RemoveFile(path);
    throw;
  }
}

template <typename Source>
void PackageWriter::AddEntry(const std::wstring& folder, const std::wstring& name, std::uint64_t createDate,
                             std::uint64_t modifiedDate, Source&& source) {
  auto record = PackageFileRecord::Make(name, folder, createDate, modifiedDate, 0);
  if (!record) throw TextTooLong();
  const std::uint64_t recordAt = file_.Position();
  file_.Write(record->bytes.data(), record->bytes.size());

  Deflater deflater(level_);
  z_stream& z = deflater.stream();
  std::vector<unsigned char> in(kChunk), out(kChunk);
  std::uint64_t stored = 0, unpacked = 0;
  int flush = Z_NO_FLUSH;
  do {
    const std::size_t got = source(in.data(), in.size());
    unpacked += got;
    flush = got < in.size() ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(got);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      const std::size_t produced = out.size() - z.avail_out;
      file_.Write(out.data(), produced);
      stored += produced;
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);

  // The stored size is known only now: write the record again with it.
  record = PackageFileRecord::Make(name, folder, createDate, modifiedDate, static_cast<std::int64_t>(stored));
  file_.Seek(static_cast<std::int64_t>(recordAt), platform::File::Origin::kBegin);
  file_.Write(record->bytes.data(), record->bytes.size());
  file_.Seek(0, platform::File::Origin::kEnd);
  entries_.push_back({folder, name, unpacked, stored});
}

void PackageWriter::AddFile(const std::wstring& folder, const std::wstring& name, const std::wstring& sourcePath,
                            std::uint64_t createDate, std::uint64_t modifiedDate) {
  platform::File source;
  FileError error;
  if (!source.Open(sourcePath, platform::File::Mode::kReadExclusive, &error)) throw error;
  AddEntry(folder, name, createDate, modifiedDate,
           [&](unsigned char* buffer, std::size_t size) { return source.Read(buffer, size); });
}

void PackageWriter::AddData(const std::wstring& folder, const std::wstring& name, const void* data, std::size_t size,
                            std::uint64_t createDate, std::uint64_t modifiedDate) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t offset = 0;
  AddEntry(folder, name, createDate, modifiedDate, [&](unsigned char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, size - offset);
    std::copy(bytes + offset, bytes + offset + n, buffer);
    offset += n;
    return n;
  });
}

void PackageWriter::Close() {
  if (!file_.IsOpen()) return;
  size_index::WriteAt(file_, file_.Position(), entries_);
  file_.Close();
}

}  // namespace package
