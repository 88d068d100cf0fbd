#include "support/package_bytes.h"

#include <zlib.h>

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
  const auto header = PackageHeader::Make(guid, title, L"Beschreibung", version);
  bytes_.assign(header->bytes.begin(), header->bytes.end());
}

PackageBytes& PackageBytes::Entry(const std::wstring& folder, const std::wstring& name,
                                  const std::vector<std::uint8_t>& data, std::uint64_t created,
                                  std::uint64_t modified) {
  const auto stored = Compress(data);
  return RawEntry(folder, name, stored, static_cast<std::int64_t>(stored.size()), created, modified);
}

PackageBytes& PackageBytes::RawEntry(const std::wstring& folder, const std::wstring& name,
                                     const std::vector<std::uint8_t>& stored, std::int64_t fileSize,
                                     std::uint64_t created, std::uint64_t modified) {
  const auto record = PackageFileRecord::Make(name, folder, created, modified, fileSize);
  if (!record) throw std::runtime_error("record text too long");
  bytes_.insert(bytes_.end(), record->bytes.begin(), record->bytes.end());
  bytes_.insert(bytes_.end(), stored.begin(), stored.end());
  return *this;
}

PackageBytes& PackageBytes::Append(const std::vector<std::uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::wstring PackageBytes::WriteTo(const std::wstring& folder) const {
  const std::wstring path = BuildPackagePath(folder, guid_);
  WriteAll(std::filesystem::path(path), bytes_);
  return path;
}
