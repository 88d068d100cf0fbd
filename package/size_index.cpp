#include "package/size_index.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "package/package.h"
#include "package/package_path.h"
#include "package/trace.h"
#include "platform/text.h"

namespace package::size_index {
namespace {

constexpr std::uint8_t kBlockMagic[] = {'S', 0, 'I', 0, 'Z', 0, 'E', 0, 0, 0};
constexpr std::size_t kBlockDataLength = 744;
constexpr char kFooterMagic[8] = {'N', 'W', 'Q', 'I', 'N', 'D', 'E', 'X'};
constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kEntryFixedBytes = 8 + 8 + 2 + 2;
constexpr std::size_t kMaxEntryBytes = kEntryFixedBytes + 2 * (kMaxRecordFolderLength + kMaxRecordNameLength);

std::uint64_t ReadLe(const std::uint8_t* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | at[i];
  return value;
}

void PutLe(std::vector<std::uint8_t>& to, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    to.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t Crc32(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t done = 0; done < count;) {
    const auto chunk = static_cast<uInt>(std::min<std::size_t>(count - done, 1u << 30));
    crc = crc32(crc, bytes.data() + done, chunk);
    done += chunk;
  }
  return static_cast<std::uint32_t>(crc);
}

// The index data, read from the file a chunk at a time: what a reader holds
// follows what it has taken, never the length a footer claims.
class DataReader {
 public:
  static constexpr std::size_t kChunkSize = 64 * 1024;

  DataReader(platform::File& package, std::uint64_t at, std::uint64_t length)
      : package_(package), buffer_(kChunkSize), left_(length) {
    package_.Seek(static_cast<std::int64_t>(at), platform::File::Origin::kBegin);
  }

  // The next `count` bytes (at most a chunk); nullptr when the data, or the
  // file, ends first.
  const std::uint8_t* Take(std::size_t count) {
    if (end_ - next_ < count) {
      std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(next_),
                buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
      end_ -= next_;
      next_ = 0;
      const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_.size() - end_));
      const std::size_t got = package_.Read(buffer_.data() + end_, wanted);
      end_ += got;
      left_ -= got;
      if (got != wanted) left_ = 0;
      if (end_ < count) return nullptr;
    }
    const std::uint8_t* at = buffer_.data() + next_;
    next_ += count;
    taken_ += count;
    return at;
  }

  // Everything left, through `crc`; false when the file ends first.
  bool Checksum(uLong& crc) {
    for (std::uint64_t left = left_ + (end_ - next_); left > 0;) {
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size()));
      const std::uint8_t* bytes = Take(count);
      if (bytes == nullptr) return false;
      crc = crc32(crc, bytes, static_cast<uInt>(count));
      left -= count;
    }
    return true;
  }

  std::uint64_t taken() const { return taken_; }

 private:
  platform::File& package_;
  std::vector<std::uint8_t> buffer_;
  std::size_t next_ = 0;  // the first byte in buffer_ not yet taken
  std::size_t end_ = 0;   // the end of what buffer_ holds
  std::uint64_t left_;    // bytes of the data not yet read into buffer_
  std::uint64_t taken_ = 0;
};

// Reads exactly `count` bytes at `offset`; false when the file ends first.
bool ReadAt(platform::File& package, std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
  package.Seek(static_cast<std::int64_t>(offset), platform::File::Origin::kBegin);
  return package.Read(buffer, count) == count;
}

SizeIndex Damaged(std::wstring why) {
  SizeIndex index;
  index.state = State::kDamaged;
  index.damage = std::move(why);
  return index;
}

std::wstring Number(std::uint64_t value) { return std::to_wstring(value); }

std::wstring EntryPath(const Entry& entry) { return package_path::StoredFolder(entry.folder) + entry.name; }

// Reads one entry's text of `units` UTF-16LE units.
std::wstring TextAt(const std::uint8_t* at, std::size_t units) {
  std::u16string utf16(units, u'\0');
  for (std::size_t i = 0; i < units; ++i)
    utf16[i] = static_cast<char16_t>(ReadLe(at + 2 * i, 2));
  return text::FromUtf16(utf16);
}

// Every check of the layout, in the order the bytes are reached.
SizeIndex ReadFromEnd(platform::File& package) {
  const std::uint64_t length = package.Length();
  if (length < kFooterSize) return {};
  std::array<std::uint8_t, kFooterSize> footer{};
  if (!ReadAt(package, length - kFooterSize, footer.data(), footer.size())) return {};
  if (std::memcmp(&footer[16], kFooterMagic, sizeof kFooterMagic) != 0) return {};

  const std::uint64_t offset = ReadLe(&footer[0], 8);
  const auto crc = static_cast<std::uint32_t>(ReadLe(&footer[8], 4));
  const auto version = static_cast<std::uint32_t>(ReadLe(&footer[12], 4));
  if (version != kLayoutVersion) return Damaged(L"unknown layout version " + Number(version));
  const std::uint64_t smallest = kPackageHeaderSize + kPackageFileRecordSize + kCountBytes + kFooterSize;
  if (length < smallest || offset < kPackageHeaderSize || offset > length - smallest + kPackageHeaderSize)
    return Damaged(L"its offset " + Number(offset) + L" lies outside the package");

  std::vector<std::uint8_t> bytes(kPackageFileRecordSize);
  if (!ReadAt(package, offset, bytes.data(), bytes.size())) return Damaged(L"the file ends inside it");
  if (!std::equal(std::begin(kBlockMagic), std::end(kBlockMagic), bytes.begin()))
    return Damaged(L"no index block at offset " + Number(offset));
  const std::uint64_t dataLength = ReadLe(&bytes[kBlockDataLength], 8);
  const std::uint64_t room = length - kFooterSize - offset - kPackageFileRecordSize;
  if (dataLength != room)
    return Damaged(L"its data is said to be " + Number(dataLength) + L" bytes, but " + Number(room) +
                   L" lie before the footer");
  // An untrusted length is not read further than the entries in front of
  // the index could ever need.
  const std::uint64_t maxEntries = (offset - kPackageHeaderSize) / kPackageFileRecordSize;
  if (dataLength > kCountBytes + maxEntries * kMaxEntryBytes)
    return Damaged(L"its data is longer than " + Number(maxEntries) + L" entries could need");

  uLong checked = crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size()));
  if (!DataReader(package, offset + kPackageFileRecordSize, dataLength).Checksum(checked))
    return Damaged(L"the file ends inside it");
  if (static_cast<std::uint32_t>(checked) != crc) return Damaged(L"its checksum does not match");

  // From here the footer's word holds: where it says the index starts is
  // known even if a later check fails.
  auto damaged = [offset](std::wstring why) {
    SizeIndex index = Damaged(std::move(why));
    index.checksummedOffset = offset;
    return index;
  };
  DataReader data(package, offset + kPackageFileRecordSize, dataLength);
  const std::uint8_t* countBytes = data.Take(kCountBytes);
  if (countBytes == nullptr) return damaged(L"the file ends inside it");
  const std::uint64_t count = ReadLe(countBytes, 4);
  if (count > maxEntries)
    return damaged(L"it lists " + Number(count) + L" entries, but the package has room for " + Number(maxEntries));
  if (count > (dataLength - kCountBytes) / kEntryFixedBytes)
    return damaged(L"it lists " + Number(count) + L" entries, but its data holds no more than " +
                   Number((dataLength - kCountBytes) / kEntryFixedBytes));
  SizeIndex index;
  index.entries.reserve(static_cast<std::size_t>(count));
  std::uint64_t entriesEnd = kPackageHeaderSize;
  std::uint64_t unpacked = 0;
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  for (std::uint64_t i = 0; i < count; ++i) {
    // Only a damaged entry is named: every run reads the whole index.
    const auto which = [i] { return L"entry " + Number(i + 1) + L": "; };
    const std::uint8_t* fixed = data.Take(kEntryFixedBytes);
    if (fixed == nullptr) return damaged(which() + L"runs past the index data");
    Entry entry;
    entry.unpackedSize = ReadLe(fixed, 8);
    entry.storedSize = ReadLe(fixed + 8, 8);
    const std::uint64_t folderUnits = ReadLe(fixed + 16, 2);
    const std::uint64_t nameUnits = ReadLe(fixed + 18, 2);
    if (folderUnits > kMaxRecordFolderLength || nameUnits > kMaxRecordNameLength)
      return damaged(which() + L"a path longer than a record holds");
    const std::uint8_t* text = data.Take(static_cast<std::size_t>(2 * (folderUnits + nameUnits)));
    if (text == nullptr) return damaged(which() + L"runs past the index data");
    entry.folder = TextAt(text, static_cast<std::size_t>(folderUnits));
    entry.name = TextAt(text + 2 * folderUnits, static_cast<std::size_t>(nameUnits));
    if (entry.storedSize > offset || entry.unpackedSize > kLimit - unpacked)
      return damaged(which() + L"a size beyond any package");
    unpacked += entry.unpackedSize;
    entriesEnd += kPackageFileRecordSize + entry.storedSize;
    if (entriesEnd > offset) break;  // told below; the sum stays small
    index.entries.push_back(std::move(entry));
  }
  if (entriesEnd != offset)
    return damaged(L"its entries end at offset " + Number(entriesEnd) + L", not at the index (offset " +
                   Number(offset) + L")");
  if (data.taken() != dataLength) return damaged(Number(dataLength - data.taken()) + L" bytes left after its entries");
  index.state = State::kValid;
  index.checksummedOffset = offset;
  index.contentsEnd = offset;
  return index;
}

}  // namespace

std::uint64_t SizeIndex::UnpackedTotal() const {
  std::uint64_t total = 0;
  for (const Entry& entry : entries)
    total += entry.unpackedSize;
  return total;
}

SizeIndex Read(platform::File& package) {
  const std::uint64_t start = package.Position();
  SizeIndex index = ReadFromEnd(package);
  package.Seek(static_cast<std::int64_t>(start), platform::File::Origin::kBegin);
  if (index.state == State::kDamaged)
    trace::Write(L"Size index ignored: " + package.Path() + L": " + index.damage + L"\r\n");
  return index;
}

SizeIndex ReadFile(const std::wstring& path) {
  platform::File package;
  FileError error;
  if (!package.Open(path, platform::File::Mode::kReadExclusive, &error)) throw error;
  return Read(package);
}

std::vector<std::uint8_t> Encode(const std::vector<Entry>& entries, std::uint64_t contentsEnd) {
  std::vector<std::uint8_t> bytes(std::begin(kBlockMagic), std::end(kBlockMagic));
  bytes.resize(kBlockDataLength);
  PutLe(bytes, 0, 8);  // the data length, once known
  PutLe(bytes, entries.size(), 4);
  for (const Entry& entry : entries) {
    const std::u16string folder = text::ToUtf16(entry.folder);
    const std::u16string name = text::ToUtf16(entry.name);
    PutLe(bytes, entry.unpackedSize, 8);
    PutLe(bytes, entry.storedSize, 8);
    PutLe(bytes, folder.size(), 2);
    PutLe(bytes, name.size(), 2);
    for (char16_t unit : folder)
      PutLe(bytes, unit, 2);
    for (char16_t unit : name)
      PutLe(bytes, unit, 2);
  }
  const std::uint64_t dataLength = bytes.size() - kPackageFileRecordSize;
  for (int i = 0; i < 8; ++i)
    bytes[kBlockDataLength + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataLength >> (8 * i));
  const std::uint32_t crc = Crc32(bytes, bytes.size());
  PutLe(bytes, contentsEnd, 8);
  PutLe(bytes, crc, 4);
  PutLe(bytes, kLayoutVersion, 4);
  bytes.insert(bytes.end(), std::begin(kFooterMagic), std::end(kFooterMagic));
  return bytes;
}

void WriteAt(platform::File& package, std::uint64_t contentsEnd, const std::vector<Entry>& entries) {
  const std::vector<std::uint8_t> bytes = Encode(entries, contentsEnd);
  package.Truncate(contentsEnd);
  package.Seek(static_cast<std::int64_t>(contentsEnd), platform::File::Origin::kBegin);
  package.Write(bytes.data(), bytes.size());
}

bool FollowsEntries(platform::File& package, std::uint64_t contentsEnd) {
  const std::uint64_t start = package.Position();
  const std::uint64_t length = package.Length();
  if (contentsEnd >= length) return false;
  std::array<std::uint8_t, sizeof kBlockMagic> head{};
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), length - contentsEnd));
  ReadAt(package, contentsEnd, head.data(), size);
  package.Seek(static_cast<std::int64_t>(start), platform::File::Origin::kBegin);
  return std::equal(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(size), std::begin(kBlockMagic));
}

std::wstring Mismatch(const SizeIndex& index, const std::vector<Entry>& entries, std::uint64_t contentsEnd,
                      bool unpackedKnown) {
  if (index.entries.size() != entries.size())
    return L"it lists " + Number(index.entries.size()) + L" entries, the package holds " + Number(entries.size());
  if (index.contentsEnd != contentsEnd)
    return L"it stands at offset " + Number(index.contentsEnd) + L", the entries end at " + Number(contentsEnd);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& listed = index.entries[i];
    const Entry& found = entries[i];
    if (listed.folder != found.folder || listed.name != found.name)
      return L"entry " + Number(i + 1) + L" is '" + EntryPath(listed) + L"' in the index, '" + EntryPath(found) +
             L"' in the package";
    if (listed.storedSize != found.storedSize)
      return EntryPath(found) + L": " + Number(listed.storedSize) + L" bytes stored in the index, " +
             Number(found.storedSize) + L" in the package";
    if (unpackedKnown && listed.unpackedSize != found.unpackedSize)
      return EntryPath(found) + L": " + Number(listed.unpackedSize) + L" bytes unpacked in the index, " +
             Number(found.unpackedSize) + L" in its stream";
  }
  return {};
}

}  // namespace package::size_index
