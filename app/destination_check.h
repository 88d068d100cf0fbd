// Whether a destination root can take the installation: the folder tree is
// created, then a temporary file is created, opened anew and deleted in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace app {

// The file-system steps of the check; the system's, or a test's stand-in.
class DestinationFileSystem {
 public:
  virtual ~DestinationFileSystem() = default;
  virtual bool CreateFolderTree(const std::wstring& folder) = 0;
  virtual std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) = 0;
  // Opens the file for reading and writing, created anew, and closes it.
  virtual bool OpenReadWrite(const std::wstring& path) = 0;
  virtual bool RemoveFile(const std::wstring& path) = 0;
  virtual platform::ErrorCode LastError() = 0;
  // The space check's questions; the system answers them unless a test
  // stands in.
  virtual std::optional<std::uint64_t> AvailableSpace(const std::wstring& folder);
  virtual std::optional<std::uint64_t> ExistingFileSize(const std::wstring& path);
};

class SystemDestinationFileSystem : public DestinationFileSystem {
 public:
  bool CreateFolderTree(const std::wstring& folder) override;
  std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override;
  bool OpenReadWrite(const std::wstring& path) override;
  bool RemoveFile(const std::wstring& path) override;
  platform::ErrorCode LastError() override;
};

struct DestinationCheck {
  enum class Outcome {
    kPassed,
    kRefused,         // show the system's text for `error`
    kRefusedQuietly,  // the temporary file would not open: no message
  };
  Outcome outcome = Outcome::kPassed;
  platform::ErrorCode error = platform::kErrorSuccess;

  bool passed() const { return outcome == Outcome::kPassed; }
};

// The folders the system's checks created (each destination and the parents
// it lacked), taken once: the install record keeps those of the destination a
// run installs to, so that uninstall removes them again when empty.
std::vector<std::wstring> TakeFoldersCreatedForDestinations();

inline constexpr wchar_t kTempFilePrefix[] = L"TST";

// Never leaves the temporary file behind, whatever step fails.
DestinationCheck CheckDestinationFolder(const std::wstring& folder, DestinationFileSystem& fileSystem);

// What a message box says of a system error: the system's text, or the
// code's number when the system has none.
std::wstring SystemErrorMessage(platform::ErrorCode error);

}  // namespace app
