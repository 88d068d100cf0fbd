#include "support/package_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "support/temp_dir.h"

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t x = 12345;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return data;
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

PackageBytes::PackageBytes(const std::wstring& guid, const std::wstring& title, std::int32_t version) : guid_(guid) {
  const auto header = package::PackageHeader::Make(guid, title, L"Beschreibung", version);
  bytes_.assign(header->bytes.begin(), header->bytes.end());
}

PackageBytes& PackageBytes::Entry(const std::wstring& folder, const std::wstring& name,
                                  const std::vector<std::uint8_t>& data, std::uint64_t created,
                                  std::uint64_t modified) {
  const auto stored = Compress(data);
  return RawEntry(folder, name, stored, static_cast<std::int64_t>(stored.size()), created, modified)
      .Unpacked(data.size());
}

PackageBytes& PackageBytes::RawEntry(const std::wstring& folder, const std::wstring& name,
                                     const std::vector<std::uint8_t>& stored, std::int64_t fileSize,
                                     std::uint64_t created, std::uint64_t modified) {
  const auto record = package::PackageFileRecord::Make(name, folder, created, modified, fileSize);
  if (!record) throw std::runtime_error("record text too long");
  bytes_.insert(bytes_.end(), record->bytes.begin(), record->bytes.end());
  bytes_.insert(bytes_.end(), stored.begin(), stored.end());
  listed_.push_back({folder, name, 0, static_cast<std::uint64_t>(fileSize)});
  return *this;
}

PackageBytes& PackageBytes::Unpacked(std::uint64_t size) {
  listed_.back().unpackedSize = size;
  return *this;
}

PackageBytes PackageBytes::Indexed() const {
  PackageBytes indexed = *this;
  indexed.Append(package::size_index::Encode(listed_, bytes_.size()));
  return indexed;
}

PackageBytes& PackageBytes::Append(const std::vector<std::uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::wstring PackageBytes::WriteTo(const std::wstring& folder) const {
  const std::wstring path = package::BuildPackagePath(folder, guid_);
  WriteAll(std::filesystem::path(path), bytes_);
  return path;
}

std::wstring WriteLargeIndexedPackage(const std::wstring& folder, const std::wstring& guid, std::uint64_t offset,
                                      std::uint32_t count, std::uint64_t dataLength, bool sealed) {
  auto le = [](std::vector<std::uint8_t>& to, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
      to.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  std::vector<std::uint8_t> block = {'S', 0, 'I', 0, 'Z', 0, 'E', 0, 0, 0};
  block.resize(744);
  le(block, dataLength, 8);
  le(block, count, 4);
  uLong crc = crc32(crc32(0L, Z_NULL, 0), block.data(), static_cast<uInt>(block.size()));
  const std::vector<std::uint8_t> zeros(1 << 16);
  for (std::uint64_t left = dataLength - 4; left > 0;) {
    const auto chunk = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
    crc = crc32(crc, zeros.data(), chunk);
    left -= chunk;
  }
  std::vector<std::uint8_t> footer;
  le(footer, offset, 8);
  le(footer, sealed ? crc : ~crc, 4);
  le(footer, 1, 4);
  for (char c : std::string("NWQINDEX"))
    footer.push_back(static_cast<std::uint8_t>(c));

  const std::wstring path = PackageBytes(guid).WriteTo(folder);
  std::fstream file(std::filesystem::path(path), std::ios::in | std::ios::out | std::ios::binary);
  auto put = [&file](std::uint64_t at, const std::vector<std::uint8_t>& bytes) {
    file.seekp(static_cast<std::streamoff>(at));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  put(offset, block);
  put(offset + 752 + dataLength, footer);
  if (!file.flush()) throw std::runtime_error("cannot write the large package");
  return path;
}
