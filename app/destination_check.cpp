#include "app/destination_check.h"

#include <mutex>
#include <utility>

#include "package/entry_steps.h"
#include "resources/texts_en.h"

namespace app {

std::optional<std::uint64_t> DestinationFileSystem::AvailableSpace(const std::wstring& folder) {
  return platform::AvailableSpace(folder);
}

std::optional<std::uint64_t> DestinationFileSystem::ExistingFileSize(const std::wstring& path) {
  return platform::FileSize(path);
}

namespace {

std::mutex createdMutex;
std::vector<std::wstring> created;

}  // namespace

bool SystemDestinationFileSystem::CreateFolderTree(const std::wstring& folder) {
  const std::vector<std::wstring> missing = package::MissingFolders(folder);
  if (!platform::CreateFolderTree(folder)) return false;
  const std::lock_guard<std::mutex> lock(createdMutex);
  created.insert(created.end(), missing.begin(), missing.end());
  return true;
}

std::vector<std::wstring> TakeFoldersCreatedForDestinations() {
  const std::lock_guard<std::mutex> lock(createdMutex);
  return std::exchange(created, {});
}

std::optional<std::wstring> SystemDestinationFileSystem::CreateTempFile(const std::wstring& folder,
                                                                        const std::wstring& prefix) {
  return platform::CreateTempFile(folder, prefix);
}

bool SystemDestinationFileSystem::OpenReadWrite(const std::wstring& path) {
  platform::File file;
  return file.Open(path, platform::File::Mode::kCreateReadWrite);
}

bool SystemDestinationFileSystem::RemoveFile(const std::wstring& path) { return platform::RemoveFile(path); }

platform::ErrorCode SystemDestinationFileSystem::LastError() { return platform::LastError(); }

DestinationCheck CheckDestinationFolder(const std::wstring& folder, DestinationFileSystem& fileSystem) {
  using Outcome = DestinationCheck::Outcome;
  const bool folderCreated = fileSystem.CreateFolderTree(folder);
  // Taken at once: the temporary-file step would overwrite it.
  const platform::ErrorCode folderError = folderCreated ? platform::kErrorSuccess : fileSystem.LastError();
  const std::optional<std::wstring> tempFile = fileSystem.CreateTempFile(folder, kTempFilePrefix);
  const platform::ErrorCode tempError = tempFile ? platform::kErrorSuccess : fileSystem.LastError();

  if (folderCreated && tempFile) {
    if (!fileSystem.OpenReadWrite(*tempFile)) {
      fileSystem.RemoveFile(*tempFile);
      return {Outcome::kRefusedQuietly, platform::kErrorSuccess};
    }
    if (!fileSystem.RemoveFile(*tempFile)) return {Outcome::kRefused, fileSystem.LastError()};
    return {Outcome::kPassed, platform::kErrorSuccess};
  }
  // A path the tree creation rejects may still take a temporary file; the
  // folder's failure is the one worth reporting.
  if (tempFile) fileSystem.RemoveFile(*tempFile);
  return {Outcome::kRefused, folderCreated ? tempError : folderError};
}

std::wstring SystemErrorMessage(platform::ErrorCode error) {
  const std::wstring text = platform::SystemErrorText(error);
  return text.empty() ? texts_en::Filled(texts_en::kErrorNumber, std::to_wstring(error)) : text;
}

}  // namespace app
