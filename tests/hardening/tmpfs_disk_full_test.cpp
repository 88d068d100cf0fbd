// A real full volume: a small tmpfs filled up by a real extraction, so the
// injected disk-full faults are checked against what the kernel does.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

#include "hardening/install_fixture.h"
#include "package/engine.h"
#include "platform/text.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace {

// Mounted for the life of the object; unmounted even when a test fails.
class TmpfsMount {
 public:
  TmpfsMount(const std::filesystem::path& at, const std::string& size, const std::string& more = {}) : at_(at) {
    std::filesystem::create_directories(at);
    const std::string options = "size=" + size + (more.empty() ? "" : "," + more);
    if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, options.c_str()) == 0)
      mounted_ = true;
    else
      error_ = errno;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
  int error_ = 0;
};

struct DiskFullOutcome {
  FileError::Cause cause = FileError::kNone;
  std::int64_t osError = 0;
  std::wstring failingFile;  // relative to the destination
  std::wstring text;         // with the destination cut out
  std::vector<std::wstring> callbacks;
  std::map<std::string, std::uintmax_t> sizes;  // what the destination holds
};

class RealDiskFull : public InstallFixture {
 protected:
  DiskFullOutcome Observe(const std::wstring& package) {
    CallbackLog::Errors().clear();
    DiskFullOutcome outcome;
    try {
      Extract(package);
      ADD_FAILURE() << "the volume did not fill up";
    } catch (const FileError& error) {
      outcome.cause = error.cause();
      outcome.osError = error.osError();
      outcome.failingFile = error.fileName().substr(destination_.size());
      outcome.text = error.Text();
      outcome.text.replace(outcome.text.find(destination_), destination_.size(), L"");
    }
    outcome.callbacks = CallbackLog::Errors();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Destination())) {
      if (!entry.is_regular_file()) continue;
      outcome.sizes[entry.path().lexically_relative(Destination()).generic_string()] = entry.file_size();
    }
    return outcome;
  }

  // Declared after the sandbox, so it is unmounted before the sandbox goes.
  std::optional<TmpfsMount> volume_;
};

}  // namespace

TEST_F(RealDiskFull, AFullTmpfsGivesDiskFullByNameKeepsTheReplacedFileAndARetryAfterFreeingSpaceInstallsAll) {
  volume_.emplace(sandbox_.root() / "volume", "2m");
  if (!volume_->mounted())
    GTEST_SKIP() << "mounting a 2 MiB tmpfs is not allowed here (" << std::strerror(volume_->error())
                 << "); the real disk-full check is skipped, the injected ones still run";

  // 1 MiB of the 2 are taken, so the second file breaks off part-way, over
  // an earlier version of it.
  WriteBytes(sandbox_.root() / "volume" / "filler.bin", NoiseBytes(1 << 20, 11));
  AddPackage(L"WIDE",
             {{L"", L"first.bin", NoiseBytes(256 << 10, 12)}, {L"sheets", L"second.bin", NoiseBytes(1536 << 10, 13)}});
  UseDestination("volume/dest");
  PlaceEarlier(L"sheets\\second.bin", NoiseBytes(64 << 10, 14));

  const DiskFullOutcome real = Observe(L"WIDE");
  EXPECT_EQ(real.cause, FileError::kDiskFull);
  EXPECT_EQ(real.osError, ENOSPC);
  EXPECT_EQ(real.failingFile, L"sheets/second.bin");
  EXPECT_EQ(real.text, L"Disk full while accessing sheets/second.bin.");
  EXPECT_TRUE(real.callbacks.empty());
  EXPECT_EQ(real.sizes.at("first.bin"), 256u << 10);
  ExpectEarlierKept(L"sheets\\second.bin");
  ExpectNoTempFiles();

  std::filesystem::remove(sandbox_.root() / "volume" / "filler.bin");
  RecordOutsideState();
  EXPECT_EQ(Extract(L"WIDE"), S_OK);
  ExpectInstalled(L"WIDE");

#if defined(VARNHOLT_FAULT_INJECTION)
  // The injected fault, striking inside the second file, must end the same
  // way. It strikes that file's folder alone: a budget shared by both files
  // would hit whichever decoder wrote last, and so depend on their timing.
  UseDestination("injected/dest");
  PlaceEarlier(L"sheets\\second.bin", NoiseBytes(64 << 10, 14));
  platform::fault_injection::ScopedFault full({platform::fault_injection::Operation::kWrite,
                                               destination_ + L"sheets" + platform::kPathSeparator, ENOSPC, 512 << 10});
  const DiskFullOutcome injected = Observe(L"WIDE");
  EXPECT_EQ(injected.cause, real.cause);
  EXPECT_EQ(injected.osError, real.osError);
  EXPECT_EQ(injected.failingFile, real.failingFile);
  EXPECT_EQ(injected.text, real.text);
  EXPECT_EQ(injected.callbacks, real.callbacks);
  EXPECT_EQ(injected.sizes, real.sizes);
  ExpectEarlierKept(L"sheets\\second.bin");
#endif
}

// Entries decoded ahead each hold an inode in their temporary file: a create
// that fails beside them must be met again alone, so any number of decoders
// replaces every file that one decoder alone can.
TEST_F(RealDiskFull, AVolumeOutOfInodesStillHasEveryFileReplacedWithAnyNumberOfDecoders) {
  // The root, the destination and its 20 files leave two inodes free.
  volume_.emplace(sandbox_.root() / "volume", "4m", "nr_inodes=24");
  if (!volume_->mounted())
    GTEST_SKIP() << "mounting a tmpfs is not allowed here (" << std::strerror(volume_->error()) << ")";
  std::vector<PackageFile> files;
  for (int i = 0; i < 20; ++i)
    files.push_back({L"", L"f" + std::to_wstring(10 + i) + L".bin", NoiseBytes(3000, 20 + i)});
  AddPackage(L"MANY", files);
  UseDestination("volume/dest");
  for (const PackageFile& file : files)
    PlaceEarlier(file.name, NoiseBytes(1000, 7));
  struct statvfs volume {};
  ASSERT_EQ(::statvfs((sandbox_.root() / "volume").c_str(), &volume), 0);
  ASSERT_EQ(volume.f_ffree, 2u);

  for (const std::size_t decoders : {1u, 2u, 4u}) {
    SCOPED_TRACE(decoders);
    package::Observer quiet;
    try {
      EXPECT_EQ(package::Extract(PackagePath(L"MANY"), L"MANY", destination_, quiet, {{}, decoders}).outcome,
                package::Outcome::kExtracted);
    } catch (const FileError& error) {
      ADD_FAILURE() << text::ToUtf8(error.Text());
    }
    ExpectInstalled(L"MANY");
    ExpectNoTempFiles();
  }
}

TEST_F(RealDiskFull, AFolderTreeMadeInPartForAnEntryAheadGoesWhenTheEntryIsForgotten) {
  // The root, the destination, k00\s\t\f and k01\s\t\f leave two inodes: one
  // decoder alone makes k02 and k02\s and fails on k02\s\t. Entries decoded
  // ahead take inodes of their own for folder trees that are then made only
  // in part; those folders must go again, or the entry in hand meets a
  // volume that one decoder would not have filled.
  std::vector<PackageFile> files;
  for (int i = 0; i < 12; ++i)
    files.push_back({L"k0" + std::to_wstring(i) + L"\\s\\t", L"f", NoiseBytes(100, 40 + i)});
  AddPackage(L"TREES", files);
  for (const std::size_t decoders : {1u, 2u, 4u, 8u}) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::to_string(decoders) + " decoders, round " + std::to_string(round));
      volume_.reset();
      volume_.emplace(sandbox_.root() / "volume", "4m", "nr_inodes=12");
      if (!volume_->mounted())
        GTEST_SKIP() << "mounting a tmpfs is not allowed here (" << std::strerror(volume_->error()) << ")";
      UseDestination("volume/dest");
      package::Observer quiet;
      try {
        package::Extract(PackagePath(L"TREES"), L"TREES", destination_, quiet, {{}, decoders});
        ADD_FAILURE() << "the volume did not run out of inodes";
      } catch (const FileError& error) {
        EXPECT_EQ(error.cause(), FileError::kBadPath);
        EXPECT_EQ(text::ToUtf8(error.fileName().substr(destination_.size())), "k02/s/t/");
      }
      std::set<std::string> held;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(Destination()))
        held.insert(entry.path().lexically_relative(Destination()).generic_string());
      EXPECT_EQ(held, (std::set<std::string>{"k00", "k00/s", "k00/s/t", "k00/s/t/f", "k01", "k01/s", "k01/s/t",
                                             "k01/s/t/f", "k02", "k02/s"}));
    }
  }
}
