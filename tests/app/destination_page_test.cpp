// The destination page's checks: the space the chosen packages need against
// the space the drive has, then the folder tree is created, a temporary file
// proves it writable, and no temporary file is ever left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/destination_check.h"
#include "app/package_sizes.h"
#include "app/space_check.h"
#include "app/space_need.h"
#include "app/wizard_session.h"
#include "package/package_path.h"
#include "support/allocation_watch.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"
#include "tests/app/package_media.h"

namespace app {

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

PackageEntry Indexed(std::vector<IndexedFile> files) { return {{}, {}, PackageSizes{true, std::move(files), 0}}; }

PackageEntry Unindexed(std::uint64_t storedSize) { return {{}, {}, PackageSizes{false, {}, storedSize}}; }

// Sizes of files already in the destination, by the path the rule asks for.
class ExistingFiles {
 public:
  explicit ExistingFiles(std::wstring destination) : destination_(std::move(destination)) {}
  void Add(const std::wstring& folder, const std::wstring& name, std::uint64_t size) {
    sizes_[package::package_path::Join(destination_, package::package_path::StoredFolder(folder), name).file] = size;
  }
  ExistingFileSize Lookup() const {
    return [this](const std::wstring& path) -> std::optional<std::uint64_t> {
      const auto found = sizes_.find(path);
      return found == sizes_.end() ? std::nullopt : std::optional<std::uint64_t>(found->second);
    };
  }

 private:
  std::wstring destination_;
  std::map<std::wstring, std::uint64_t> sizes_;
};

// The system's answers, but a drive of a given size.
class FixedSpace : public SystemDestinationFileSystem {
 public:
  explicit FixedSpace(std::optional<std::uint64_t> available) : available_(available) {}
  std::optional<std::uint64_t> AvailableSpace(const std::wstring&) override { return available_; }

 private:
  std::optional<std::uint64_t> available_;
};

const std::wstring kDestination = std::wstring(L"maps") + platform::kPathSeparator;

}  // namespace

TEST(SpaceNeed, IsTheUnpackedSizesPlusTheLargestFile) {
  const SpaceNeed need =
      ComputeSpaceNeed({Indexed({{L"nord", L"a.dat", 100}, {L"nord", L"b.dat", 300}}), Indexed({{L"", L"c.dat", 50}})},
                       kDestination, {});
  EXPECT_EQ(need.known, 100u + 300u + 50u + 300u);
  EXPECT_TRUE(need.Complete());
  EXPECT_EQ(need.AtLeast(), need.known);
  EXPECT_EQ(ComputeSpaceNeed({}, kDestination, {}).known, 0u);
  EXPECT_EQ(ComputeSpaceNeed({Indexed({})}, kDestination, {}).known, 0u);
}

TEST(SpaceNeed, ExistingFilesThePackagesReplaceAreSubtracted) {
  ExistingFiles existing(kDestination);
  existing.Add(L"nord\\", L"a.dat", 40);      // the folder as the record spells it
  existing.Add(L"nord", L"other.dat", 1000);  // not replaced: stays out of it
  const SpaceNeed need = ComputeSpaceNeed({Indexed({{L"nord", L"a.dat", 100}, {L"nord", L"b.dat", 300}})}, kDestination,
                                          existing.Lookup());
  EXPECT_EQ(need.known, (100u - 40u) + 300u + 300u);
}

TEST(SpaceNeed, AFileWrittenTwiceCountsOnceWithItsLastSize) {
  // In two packages, and twice in one.
  const SpaceNeed need = ComputeSpaceNeed(
      {Indexed({{L"m", L"a.dat", 500}}), Indexed({{L"m", L"a.dat", 100}, {L"m", L"b.dat", 10}, {L"m", L"b.dat", 20}})},
      kDestination, {});
  EXPECT_EQ(need.known, 100u + 20u + 500u);

  // The second write replaces the first, not the file that was there before.
  ExistingFiles existing(kDestination);
  existing.Add(L"m", L"a.dat", 70);
  EXPECT_EQ(ComputeSpaceNeed({Indexed({{L"m", L"a.dat", 100}}), Indexed({{L"m", L"a.dat", 200}})}, kDestination,
                             existing.Lookup())
                .known,
            (200u - 70u) + 200u);
}

TEST(SpaceNeed, NeverLessThanTheCopyHoldsAtItsPeak) {
  // The big new file is in place long before the replaced one shrinks.
  ExistingFiles existing(kDestination);
  existing.Add(L"m", L"old.dat", 10000);
  const SpaceNeed need =
      ComputeSpaceNeed({Indexed({{L"m", L"new.dat", 5000}, {L"m", L"old.dat", 100}})}, kDestination, existing.Lookup());
  EXPECT_EQ(need.known, 5000u + 100u);
  // Shrinking everything needs no more than the largest new file beside its old one.
  EXPECT_EQ(ComputeSpaceNeed({Indexed({{L"m", L"old.dat", 100}})}, kDestination, existing.Lookup()).known, 100u);
}

TEST(SpaceNeed, APathThatLeavesTheDestinationReplacesNothing) {
  ExistingFiles existing(kDestination);
  existing.Add(L"..", L"outside.dat", 1000000);
  existing.Add(L"", L"..", 1000000);
  EXPECT_EQ(ComputeSpaceNeed({Indexed({{L"..", L"outside.dat", 10}, {L"", L"..", 5}})}, kDestination, existing.Lookup())
                .known,
            10u + 5u + 10u);
}

TEST(SpaceNeed, HugeSizesSaturateInsteadOfWrapping) {
  constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();
  const SpaceNeed need = ComputeSpaceNeed(
      {Indexed({{L"", L"a", kHuge}, {L"", L"b", kHuge}}), Unindexed(kHuge), Unindexed(kHuge)}, kDestination, {});
  EXPECT_GE(need.known, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(need.AtLeast(), kHuge);
  EXPECT_FALSE((SpaceCheck{need, kHuge / 4}).Fits());

  // A replaced file of any size cannot make a need out of nothing.
  ExistingFiles existing(kDestination);
  existing.Add(L"", L"a", kHuge);
  EXPECT_EQ(ComputeSpaceNeed({Indexed({{L"", L"a", 1}})}, kDestination, existing.Lookup()).known, 1u);
}

TEST(SpaceNeed, APackageWithoutAnIndexIsAtLeastItsStoredSizeAndCannotBlock) {
  const SpaceNeed need = ComputeSpaceNeed({Indexed({{L"", L"a.dat", 100}}), Unindexed(1000)}, kDestination, {});
  EXPECT_FALSE(need.Complete());
  EXPECT_EQ(need.unknownPackages, 1u);
  EXPECT_EQ(need.known, 200u);
  EXPECT_EQ(need.AtLeast(), 1200u);

  // Only the known part is held against the drive.
  EXPECT_TRUE((SpaceCheck{need, 500}).Fits());
  EXPECT_TRUE((SpaceCheck{need, 200}).Fits());
  EXPECT_FALSE((SpaceCheck{need, 199}).Fits());
  // A drive that cannot say how much it has is not held against anything.
  EXPECT_TRUE((SpaceCheck{need, std::nullopt}).Fits());
  EXPECT_TRUE((SpaceCheck{ComputeSpaceNeed({Unindexed(1000)}, kDestination, {}), 0}).Fits());
}

TEST(SpaceTexts, SayTheSizesAsTheSystemWritesThem) {
  // 2 x 14,300,000 bytes is 27.27 MiB: cut to one decimal, as the system does, not rounded.
  const SpaceCheck known{ComputeSpaceNeed({Indexed({{L"", L"a", 14300000}})}, kDestination, {}), 20000000};
  EXPECT_EQ(SpaceSummaryText(known), L"Space required: 27.2 MB\r\nSpace available: 19.0 MB");
  EXPECT_EQ(NotEnoughSpaceText(known),
            L"Not enough free space on the destination drive: 27.2 MB needed, 19.0 MB available.");

  // 10 + 10 known, 2027 stored: at least 2047 bytes, 1.999 KB.
  const SpaceCheck partial{ComputeSpaceNeed({Indexed({{L"", L"a", 10}}), Unindexed(2027)}, kDestination, {}),
                           std::nullopt};
  EXPECT_EQ(SpaceSummaryText(partial), L"Space required: at least 1.99 KB\r\nSpace available: unknown");

  EXPECT_EQ(platform::FormatByteSize(1023), L"1023 bytes");
  EXPECT_EQ(platform::FormatByteSize(1536), L"1.50 KB");
  EXPECT_EQ(platform::FormatByteSize(12 << 20), L"12.0 MB");
  EXPECT_EQ(platform::FormatByteSize(std::uint64_t{3} << 40), L"3.00 TB");
}

TEST(SpaceOnDisk, TheDrivesSpaceIsAskedOfTheNearestExistingFolder) {
  TempDir root;
  const std::wstring missing = root.Folder(L"a") + L"b" + platform::kPathSeparator + L"c" + platform::kPathSeparator;
  const std::optional<std::uint64_t> available = platform::AvailableSpace(missing);
  ASSERT_TRUE(available.has_value());
  EXPECT_GT(*available, 0u);
  EXPECT_FALSE(std::filesystem::exists(root.path() / "a")) << "asking creates nothing";
}

TEST(SpaceOnDisk, ReplacedFilesAreMeasuredInTheDestination) {
  TempDir root;
  const std::wstring destination = root.Folder();
  std::filesystem::create_directories(root.path() / "nord");
  std::ofstream(root.path() / "nord" / "a.dat", std::ios::binary) << std::string(40, 'x');
  std::filesystem::create_directories(root.path() / "nord" / "dir.dat");  // a folder is no file to replace
  EXPECT_EQ(platform::FileSize(root.File(L"nord") + platform::kPathSeparator + L"a.dat"), 40u);
  EXPECT_FALSE(platform::FileSize(root.File(L"nord")).has_value());
  EXPECT_FALSE(platform::FileSize(root.File(L"none")).has_value());

  FixedSpace drive(1000);
  const SpaceCheck check =
      CheckSpace(destination, {Indexed({{L"nord", L"a.dat", 100}, {L"nord", L"dir.dat", 7}})}, drive);
  EXPECT_EQ(check.need.known, 60u + 7u + 100u);
  EXPECT_EQ(check.available, 1000u);
  EXPECT_EQ(TreeOf(root.path()), (std::vector<std::string>{"nord", "nord/a.dat", "nord/dir.dat"}));
}

TEST(SpaceOnDisk, APackagesSizesComeFromItsIndexOnlyWhileItChecksOut) {
  TempDir folder;
  WritePackage(folder.Folder(), L"PKG", L"Alpen", std::string(5000, 'x'), L"a.txt", L"maps\\nord");
  const std::wstring path = package::BuildPackagePath(folder.Folder(), L"PKG");
  const PackageSizes sound = ReadPackageSizes(path);
  ASSERT_TRUE(sound.indexed);
  ASSERT_EQ(sound.files.size(), 1u);
  EXPECT_EQ(sound.files[0].storedFolder, L"maps\\nord");
  EXPECT_EQ(sound.files[0].name, L"a.txt");
  EXPECT_EQ(sound.files[0].size, 5000u);
  EXPECT_EQ(sound.storedSize, std::filesystem::file_size(std::filesystem::path(path)));

  // One byte of the index changed, just before its footer.
  {
    std::fstream file(std::filesystem::path(path), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(-25, std::ios::end);
    file.put('Z');
  }
  const PackageSizes damaged = ReadPackageSizes(path);
  EXPECT_FALSE(damaged.indexed);
  EXPECT_TRUE(damaged.files.empty());
  EXPECT_EQ(damaged.storedSize, sound.storedSize);

  const PackageSizes missing = ReadPackageSizes(folder.File(L"none.nwq"));
  EXPECT_FALSE(missing.indexed);
  EXPECT_EQ(missing.storedSize, 0u);
}

// Whatever goes wrong while an index is read, here memory that runs out,
// leaves that package's need unknown and the setup running.
TEST(SpaceOnDisk, AnIndexThatCannotBeReadInMemoryLeavesItsPackageUnknown) {
  TempDir folder;
  constexpr std::uint32_t kEntries = 24'000;
  constexpr std::uint64_t kOffset =
      package::kPackageHeaderSize + std::uint64_t{kEntries} * package::kPackageFileRecordSize;
  constexpr std::size_t kLimit = 1u << 20;  // less than either index asks for
  const struct {
    const char* label;
    std::uint64_t dataLength;
    bool sealed;
  } cases[] = {
      {"a damaged index that claims 16 MiB", 16u << 20, false},
      {"a sound index of 24000 entries", 4 + 20 * std::uint64_t{kEntries}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring path =
        WriteLargeIndexedPackage(folder.Folder(), L"Big", kOffset, kEntries, c.dataLength, c.sealed);
    PackageSizes sizes;
    {
      AllocationWatch limited(kLimit);
      EXPECT_NO_THROW(sizes = ReadPackageSizes(path));
    }
    EXPECT_FALSE(sizes.indexed);
    EXPECT_TRUE(sizes.files.empty());
    EXPECT_EQ(sizes.storedSize, std::filesystem::file_size(std::filesystem::path(path)));
    // With the memory it needs, the sound one is read.
    EXPECT_EQ(ReadPackageSizes(path).indexed, c.sealed);
  }
}

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

// Whichever step fails, the folder is refused with that step's own code.
TEST(DestinationCheckSteps, AFailedStepReportsItsOwnError) {
  using Scripted = ScriptedFileSystem;
  const struct {
    const char* label;
    bool Scripted::*succeeds;
    platform::ErrorCode Scripted::*error;
    platform::ErrorCode code;
    std::vector<std::string> steps;  // checked where given
    bool removesAStrayFile;
  } cases[] = {
      {"a failed folder step", &Scripted::folderSucceeds, &Scripted::folderError, 5, {}, true},
      {"a failed temporary file", &Scripted::tempSucceeds, &Scripted::tempError, 19, {"folder", "temp"}, false},
      {"a temporary file that cannot be deleted", &Scripted::removeSucceeds, &Scripted::removeError, 32, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedFileSystem fileSystem;
    fileSystem.*c.succeeds = false;
    fileSystem.*c.error = c.code;
    const DestinationCheck check = CheckDestinationFolder(L"D:\\Maps\\", fileSystem);
    EXPECT_EQ(check.outcome, Outcome::kRefused);
    EXPECT_EQ(check.error, c.code);
    if (!c.steps.empty()) {
      EXPECT_EQ(fileSystem.steps, c.steps);
    }
    if (c.removesAStrayFile) {
      EXPECT_TRUE(fileSystem.files.empty());
    }
  }
}

TEST(DestinationOfTheSession, EveryDestinationEndsInOneBackslash) {
  WizardSession session;
  session.SetDestinationFolder(L"D:\\Maps");
  EXPECT_EQ(session.destinationFolder(), L"D:\\Maps\\");
  session.SetDestinationFolder(L"D:\\Maps\\");
  EXPECT_EQ(session.destinationFolder(), L"D:\\Maps\\");
  session.SetDestinationFolder(L"E:\\");
  EXPECT_EQ(session.destinationFolder(), L"E:\\");
  session.SetDestinationFolder(L"");
  EXPECT_EQ(session.destinationFolder(), L"\\");
}

TEST(ReinstallAllFiles, TickedWritesEveryFileAndUntickedGivesBackTheRuleFromBefore) {
  struct Case {
    const char* name;
    CopyRule fromTheCommandLine;
    bool ticked;  // as the page shows it first
  };
  for (const Case& c : {Case{"plain", CopyRule::kSkipUnchanged, false}, Case{"/repair", CopyRule::kRepair, false},
                        Case{"/force", CopyRule::kWriteAll, true}}) {
    SCOPED_TRACE(c.name);
    WizardSession session;
    session.SetCopyRule(c.fromTheCommandLine);
    EXPECT_EQ(session.reinstallAll(), c.ticked);
    session.SetReinstallAll(false);
    const CopyRule unticked = c.fromTheCommandLine == CopyRule::kRepair ? CopyRule::kRepair : CopyRule::kSkipUnchanged;
    EXPECT_EQ(session.copyRule(), unticked);
    // A second tick (the page applies the box at every click) keeps the rule to go back to.
    session.SetReinstallAll(true);
    session.SetReinstallAll(true);
    EXPECT_EQ(session.BuildInstallationJob().copyRule, CopyRule::kWriteAll);
    session.SetReinstallAll(false);
    EXPECT_EQ(session.BuildInstallationJob().copyRule, unticked);
  }
}

}  // namespace app
