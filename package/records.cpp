#include <cstring>

#include "package/package.h"
#include "package/package_path.h"
#include "platform/text.h"

namespace package {

namespace {

// Offsets and slot sizes (in UTF-16 units) of the fixed records.
constexpr std::size_t kHeaderMagic = 0, kHeaderMagicUnits = 4;
constexpr std::size_t kHeaderVersion = 8;
constexpr std::size_t kHeaderGuid = 12, kHeaderGuidUnits = 100;
constexpr std::size_t kHeaderTitle = 212, kHeaderTitleUnits = 100;
constexpr std::size_t kHeaderDescription = 412, kHeaderDescriptionUnits = 256;

constexpr std::size_t kRecordMagic = 0, kRecordMagicUnits = 5;
constexpr std::size_t kRecordName = 10, kRecordNameUnits = 100;
constexpr std::size_t kRecordFolder = 210, kRecordFolderUnits = 259;
constexpr std::size_t kRecordCreateDate = 728;
constexpr std::size_t kRecordModifiedDate = 736;
constexpr std::size_t kRecordFileSize = 744;

std::uint64_t ReadLe(const std::uint8_t* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | at[i];
  return value;
}

void WriteLe(std::uint8_t* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Writes the text and its NUL into a slot; false when it does not fit.
bool WriteSlot(std::uint8_t* slot, std::size_t units, const std::wstring& value) {
  const std::u16string utf16 = text::ToUtf16(value);
  if (utf16.size() + 1 > units) return false;
  for (std::size_t i = 0; i < utf16.size(); ++i)
    WriteLe(slot + 2 * i, utf16[i], 2);
  return true;
}

}  // namespace

std::wstring PackageHeader::Magic() const { return text::FromUtf16LeSlot(&bytes[kHeaderMagic], kHeaderMagicUnits); }
std::int32_t PackageHeader::Version() const { return static_cast<std::int32_t>(ReadLe(&bytes[kHeaderVersion], 4)); }
std::wstring PackageHeader::GUID() const { return text::FromUtf16LeSlot(&bytes[kHeaderGuid], kHeaderGuidUnits); }
std::wstring PackageHeader::TITLE() const { return text::FromUtf16LeSlot(&bytes[kHeaderTitle], kHeaderTitleUnits); }
std::wstring PackageHeader::DESCRIPTION() const {
  return text::FromUtf16LeSlot(&bytes[kHeaderDescription], kHeaderDescriptionUnits);
}

bool PackageHeader::GuidEquals(const std::wstring& name) const {
  std::u16string units;
  for (wchar_t c : name) {
    // On Windows wchar_t holds the name's units already, unpaired surrogates
    // included; elsewhere it holds code points.
    const auto point = static_cast<std::uint32_t>(c);
    if (sizeof(wchar_t) == 2 || point < 0x10000) {
      units += static_cast<char16_t>(point);
    } else {
      units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
  }
  std::size_t length = 0;
  while (length < kHeaderGuidUnits && ReadLe(&bytes[kHeaderGuid + 2 * length], 2) != 0)
    ++length;
  if (length != units.size()) return false;
  for (std::size_t i = 0; i < length; ++i)
    if (ReadLe(&bytes[kHeaderGuid + 2 * i], 2) != units[i]) return false;
  return true;
}

std::optional<PackageHeader> PackageHeader::Make(const std::wstring& guid, const std::wstring& title,
                                                 const std::wstring& description, std::int32_t version) {
  PackageHeader header;
  WriteSlot(&header.bytes[kHeaderMagic], kHeaderMagicUnits, L"NWQ");
  WriteLe(&header.bytes[kHeaderVersion], static_cast<std::uint32_t>(version), 4);
  if (!WriteSlot(&header.bytes[kHeaderGuid], kHeaderGuidUnits, guid) ||
      !WriteSlot(&header.bytes[kHeaderTitle], kHeaderTitleUnits, title) ||
      !WriteSlot(&header.bytes[kHeaderDescription], kHeaderDescriptionUnits, description))
    return std::nullopt;
  return header;
}

std::wstring PackageFileRecord::Magic() const { return text::FromUtf16LeSlot(&bytes[kRecordMagic], kRecordMagicUnits); }
std::wstring PackageFileRecord::Name() const { return text::FromUtf16LeSlot(&bytes[kRecordName], kRecordNameUnits); }
std::wstring PackageFileRecord::Folder() const {
  return text::FromUtf16LeSlot(&bytes[kRecordFolder], kRecordFolderUnits);
}
std::wstring PackageFileRecord::FolderWithSeparator() const { return package_path::StoredFolder(Folder()); }
std::uint64_t PackageFileRecord::CreateDate() const { return ReadLe(&bytes[kRecordCreateDate], 8); }
std::uint64_t PackageFileRecord::ModifiedDate() const { return ReadLe(&bytes[kRecordModifiedDate], 8); }
std::int64_t PackageFileRecord::FileSize() const {
  return static_cast<std::int64_t>(ReadLe(&bytes[kRecordFileSize], 8));
}

std::optional<PackageFileRecord> PackageFileRecord::Make(const std::wstring& name, const std::wstring& folder,
                                                         std::uint64_t createDate, std::uint64_t modifiedDate,
                                                         std::int64_t fileSize) {
  PackageFileRecord record;
  WriteSlot(&record.bytes[kRecordMagic], kRecordMagicUnits, L"FILE");
  if (!WriteSlot(&record.bytes[kRecordName], kRecordNameUnits, name) ||
      !WriteSlot(&record.bytes[kRecordFolder], kRecordFolderUnits, folder))
    return std::nullopt;
  WriteLe(&record.bytes[kRecordCreateDate], createDate, 8);
  WriteLe(&record.bytes[kRecordModifiedDate], modifiedDate, 8);
  WriteLe(&record.bytes[kRecordFileSize], static_cast<std::uint64_t>(fileSize), 8);
  return record;
}

}  // namespace package
