// The destination page's check: the folder tree is created, a temporary file
// proves it writable, and no temporary file is ever left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/destination_check.h"
#include "app/wizard_session.h"
#include "support/temp_dir.h"

namespace {

using Outcome = DestinationCheck::Outcome;

std::size_t EntriesIn(const std::filesystem::path& folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Answers each step as told and remembers what was left on "disk".
class ScriptedFileSystem : public DestinationFileSystem {
 public:
  bool folderSucceeds = true;
  platform::ErrorCode folderError = 0;
  bool tempSucceeds = true;
  platform::ErrorCode tempError = 0;
  bool openSucceeds = true;
  bool removeSucceeds = true;
  platform::ErrorCode removeError = 0;

  std::set<std::wstring> files;
  std::vector<std::string> steps;

  bool CreateFolderTree(const std::wstring&) override {
    steps.push_back("folder");
    last_ = folderSucceeds ? 0 : folderError;
    return folderSucceeds;
  }
  std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
    steps.push_back("temp");
    if (!tempSucceeds) {
      last_ = tempError;
      return std::nullopt;
    }
    last_ = 0;  // a successful call may well clear the code: the folder's must survive it
    files.insert(folder + prefix + L"1.tmp");
    return folder + prefix + L"1.tmp";
  }
  bool OpenReadWrite(const std::wstring&) override {
    steps.push_back("open");
    return openSucceeds;
  }
  bool RemoveFile(const std::wstring& path) override {
    steps.push_back("remove");
    if (!removeSucceeds) {
      last_ = removeError;
      return false;
    }
    files.erase(path);
    return true;
  }
  platform::ErrorCode LastError() override { return last_; }

 private:
  platform::ErrorCode last_ = 0;
};

}  // namespace

TEST(DestinationCheckOnDisk, CreatesMissingParentsAndLeavesNoTemporaryFile) {
  TempDir root;
  const std::wstring destination = root.Folder(L"Varnholt") + L"Digital Maps" + platform::kPathSeparator;
  SystemDestinationFileSystem fileSystem;
  const DestinationCheck check = CheckDestinationFolder(destination, fileSystem);
  EXPECT_TRUE(check.passed());
  ASSERT_TRUE(std::filesystem::is_directory(destination));
  EXPECT_EQ(EntriesIn(destination), 0u);

  // An existing folder passes just the same; its files are not touched.
  std::ofstream(std::filesystem::path(destination) / "kept.txt") << "x";
  EXPECT_TRUE(CheckDestinationFolder(destination, fileSystem).passed());
  EXPECT_EQ(EntriesIn(destination), 1u);
}

TEST(DestinationCheckOnDisk, AFolderThatCannotBeCreatedIsRefusedWithTheSystemsCode) {
  TempDir root;
  std::ofstream(root.path() / "file") << "in the way";
  SystemDestinationFileSystem fileSystem;
  const DestinationCheck check =
      CheckDestinationFolder(root.Folder(L"file") + L"below" + platform::kPathSeparator, fileSystem);
  EXPECT_EQ(check.outcome, Outcome::kRefused);
  EXPECT_NE(check.error, platform::kErrorSuccess);
  EXPECT_FALSE(platform::SystemErrorText(check.error).empty());
  EXPECT_EQ(EntriesIn(root.path()), 1u);
}

TEST(DestinationCheckSteps, PassingRunsEveryStepAndRemovesTheFile) {
  ScriptedFileSystem fileSystem;
  EXPECT_TRUE(CheckDestinationFolder(L"D:\\Maps\\", fileSystem).passed());
  EXPECT_EQ(fileSystem.steps, (std::vector<std::string>{"folder", "temp", "open", "remove"}));
  EXPECT_TRUE(fileSystem.files.empty());
}

TEST(DestinationCheckSteps, ATemporaryFileThatWillNotOpenIsRefusedQuietlyAndRemoved) {
  ScriptedFileSystem fileSystem;
  fileSystem.openSucceeds = false;
  EXPECT_EQ(CheckDestinationFolder(L"D:\\Maps\\", fileSystem).outcome, Outcome::kRefusedQuietly);
  EXPECT_TRUE(fileSystem.files.empty());
}

TEST(DestinationCheckSteps, AFailedFolderStepReportsItsOwnErrorAndRemovesAStrayFile) {
  ScriptedFileSystem fileSystem;
  fileSystem.folderSucceeds = false;
  fileSystem.folderError = 5;
  const DestinationCheck check = CheckDestinationFolder(L"D:\\Maps\\", fileSystem);
  EXPECT_EQ(check.outcome, Outcome::kRefused);
  EXPECT_EQ(check.error, 5u);
  EXPECT_TRUE(fileSystem.files.empty());
}

TEST(DestinationCheckSteps, AFailedTemporaryFileReportsItsError) {
  ScriptedFileSystem fileSystem;
  fileSystem.tempSucceeds = false;
  fileSystem.tempError = 19;
  const DestinationCheck check = CheckDestinationFolder(L"D:\\Maps\\", fileSystem);
  EXPECT_EQ(check.outcome, Outcome::kRefused);
  EXPECT_EQ(check.error, 19u);
  EXPECT_EQ(fileSystem.steps, (std::vector<std::string>{"folder", "temp"}));
}

TEST(DestinationCheckSteps, ATemporaryFileThatCannotBeDeletedIsReported) {
  ScriptedFileSystem fileSystem;
  fileSystem.removeSucceeds = false;
  fileSystem.removeError = 32;
  const DestinationCheck check = CheckDestinationFolder(L"D:\\Maps\\", fileSystem);
  EXPECT_EQ(check.outcome, Outcome::kRefused);
  EXPECT_EQ(check.error, 32u);
}

TEST(DestinationOfTheSession, EveryDestinationEndsInOneBackslash) {
  WizardSession session;
  session.SetDestinationFolder(L"D:\\Maps");
  EXPECT_EQ(session.DestinationFolder(), L"D:\\Maps\\");
  session.SetDestinationFolder(L"D:\\Maps\\");
  EXPECT_EQ(session.DestinationFolder(), L"D:\\Maps\\");
  session.SetDestinationFolder(L"E:\\");
  EXPECT_EQ(session.DestinationFolder(), L"E:\\");
  session.SetDestinationFolder(L"");
  EXPECT_EQ(session.DestinationFolder(), L"\\");
}
