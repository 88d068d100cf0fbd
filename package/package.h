// The map package format (.nwq): a 924-byte header, then for every file a
// 752-byte record followed by FileSize bytes of one zlib stream. Integers are
// little-endian; texts are NUL-terminated UTF-16LE in fixed slots.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/status.h"
#include "platform/file_error.h"
#include "platform/platform.h"

namespace package {

inline constexpr std::size_t kPackageHeaderSize = 924;
inline constexpr std::size_t kPackageFileRecordSize = 752;
inline constexpr std::int32_t kPackageVersion = 2;

// Longest texts (in UTF-16 units) that fit their slots with the NUL.
inline constexpr std::size_t kMaxGuidLength = 99;
inline constexpr std::size_t kMaxTitleLength = 99;
inline constexpr std::size_t kMaxDescriptionLength = 255;
inline constexpr std::size_t kMaxRecordNameLength = 99;
inline constexpr std::size_t kMaxRecordFolderLength = 258;

// The header as it stands in the file; the fields are read from the bytes.
struct PackageHeader {
  std::array<std::uint8_t, kPackageHeaderSize> bytes{};

  std::wstring Magic() const;
  std::int32_t Version() const;
  std::wstring GUID() const;
  std::wstring TITLE() const;
  std::wstring DESCRIPTION() const;
  // Whether the GUID slot holds exactly the name's UTF-16 units: no
  // conversion of either side may make two different names equal.
  bool GuidEquals(const std::wstring& name) const;

  // A header with magic "NWQ" and the given fields; nullopt when a text does
  // not fit its slot.
  static std::optional<PackageHeader> Make(const std::wstring& guid, const std::wstring& title,
                                           const std::wstring& description, std::int32_t version = kPackageVersion);
};

struct PackageFileRecord {
  std::array<std::uint8_t, kPackageFileRecordSize> bytes{};

  std::wstring Magic() const;
  std::wstring Name() const;
  std::wstring Folder() const;
  // The folder as the extractor joins it: ending in "\" unless empty.
  std::wstring FolderWithSeparator() const;
  std::uint64_t CreateDate() const;
  std::uint64_t ModifiedDate() const;
  std::int64_t FileSize() const;
  bool HasFileMagic() const { return Magic() == L"FILE"; }

  static std::optional<PackageFileRecord> Make(const std::wstring& name, const std::wstring& folder,
                                               std::uint64_t createDate, std::uint64_t modifiedDate,
                                               std::int64_t fileSize);
};

// folder + separator + packageName + ".nwq"; the folder is taken unchanged.
std::wstring BuildPackagePath(std::wstring folder, std::wstring packageName);

// Why a header is refused, in the order the checks run.
enum class HeaderFault {
  kNone,
  kTooShort,      // fewer than 924 bytes
  kWrongMagic,    // not "NWQ" and its NUL
  kWrongVersion,  // not 2
  kGuidMismatch,  // the GUID differs from the package name
};

// Reads the header of `file`, which stands at its start, into `header` and
// checks it against the package name, writing no trace. On kNone the file
// stands at offset 924. Raises FileError on an I/O error.
HeaderFault CheckHeader(const std::wstring& packageName, platform::File& file, PackageHeader* header);

// Why `header` was refused for the package `packageName`, for people: the
// tool's refusals and the setup's log give the same reason.
std::wstring HeaderFaultText(HeaderFault fault, const PackageHeader& header, const std::wstring& packageName);

// Reads and checks the header of `file`, which stands at its start. On S_OK
// the file stands at offset 924. Raises FileError on an I/O error.
HRESULT CheckPackageHeader(const std::wstring& packageName, PackageHeader* header, platform::File* file);

// Opens folder/packageName.nwq without sharing and checks its header.
HRESULT ReadPackageHeader(std::wstring folder, std::wstring packageName, PackageHeader* header);

// Appends the names of the valid packages directly in `folder`, in the order
// the folder search returns them. S_OK in every case.
HRESULT GetAvailableGuids(std::wstring folder, std::vector<std::wstring>& names);

using ExtractProgressCallback = void (*)(std::int32_t percent, std::int32_t maximum, const std::wstring& fileName);
using ExtractErrorCallback = void (*)(const std::wstring& message);

// The wizard extracts through 4096/8192-byte buffers; tools may take larger.
struct ExtractBuffers {
  std::size_t input = 4096;
  std::size_t output = 8192;
};

// Unpacks folder/packageName.nwq into `destination` (which ends in a
// separator). S_OK when the package was read to its end, E_FAIL when it cannot
// be opened or its header is invalid. File-system failures and damaged stored
// data raise FileError; the error callback hears of folders and output files
// that cannot be created, unsafe entry paths and damaged entries first, with
// the text ExtractErrorText gives the error.
HRESULT ExtractPackage(std::wstring folder, std::wstring packageName, std::wstring destination,
                       ExtractProgressCallback progress, ExtractErrorCallback onError,
                       const ExtractBuffers& buffers = {});

// The wizard's German text for an extraction error of the engine; for a
// FileError that is no ExtractionError, an empty text.
enum class ErrorKind;
std::wstring ExtractErrorText(ErrorKind kind, const std::wstring& path);
std::wstring ExtractErrorText(const FileError& error);

// The record loop of ExtractPackage; `package` stands just after its header.
HRESULT ExtractPackageContents(const std::wstring& destination, platform::File* package,
                               ExtractProgressCallback progress, ExtractErrorCallback onError,
                               const ExtractBuffers& buffers = {});

}  // namespace package
