// The one owner of OS resources, and the error paths that must not keep what
// they opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "platform/unique_resource.h"
#include "support/temp_dir.h"
#if !defined(_WIN32)
#include <cerrno>

#include "tests/app/settings_sandbox.h"
#endif
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace {

// Records every close; the handle kFailing reports a failed one.
struct RecordingTraits {
  using Handle = int;
  static constexpr Handle Invalid() noexcept { return 0; }
  static bool Close(Handle handle) noexcept {
    closed.push_back(handle);
    return handle != kFailing;
  }
  static constexpr Handle kFailing = 99;
  static inline std::vector<Handle> closed;
};
using Owner = platform::UniqueResource<RecordingTraits>;
using Closed = std::vector<int>;

class UniqueResourceTest : public ::testing::Test {
 protected:
  void SetUp() override { RecordingTraits::closed.clear(); }
};

TEST_F(UniqueResourceTest, ClosesEveryHandleExactlyOnceHoweverItIsMoved) {
  {
    Owner first(1);
    Owner second(std::move(first));
    Owner third(2);
    third = std::move(second);  // closes 2, takes 1
    EXPECT_EQ(RecordingTraits::closed, Closed{2});
    Owner& same = third;
    third = std::move(same);  // onto itself: keeps the handle
    EXPECT_FALSE(first.IsValid());
    EXPECT_FALSE(second.IsValid());
    EXPECT_EQ(third.Get(), 1);
    Owner empty;
    third = std::move(empty);  // closes 1; nothing is left to close
  }
  EXPECT_EQ(RecordingTraits::closed, (Closed{2, 1}));
}

TEST_F(UniqueResourceTest, ReleaseGivesUpOwnershipAndResetClosesWhatWasHeld) {
  {
    Owner owner(3);
    EXPECT_EQ(owner.Release(), 3);
    EXPECT_FALSE(owner);
    owner.Reset(4);
    owner.Reset(5);
  }
  EXPECT_EQ(RecordingTraits::closed, (Closed{4, 5}));
}

TEST_F(UniqueResourceTest, CloseReportsAFailedCloseAndLeavesTheOwnerEmpty) {
  {
    Owner failing(RecordingTraits::kFailing);
    EXPECT_FALSE(failing.Close());
    EXPECT_FALSE(failing);
    EXPECT_TRUE(failing.Close());  // nothing held: no second close of a reused number
    Owner fine(6);
    EXPECT_TRUE(fine.Close());
  }
  EXPECT_EQ(RecordingTraits::closed, (Closed{RecordingTraits::kFailing, 6}));
}

#if !defined(_WIN32)
using Mode = platform::File::Mode;

// A leaked descriptor shows here as one more.
std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd"); it != std::filesystem::directory_iterator();
       ++it)
    ++count;
  return count;
}

TEST(Owners, OpensRefusedAfterTheOsOpenedTheFileKeepNoDescriptor) {
  TempDir dir;
  platform::File holder;
  ASSERT_TRUE(holder.Open(dir.File(L"busy.bin"), Mode::kCreateReadWrite));
  const std::size_t before = OpenDescriptors();
  platform::File file;
  EXPECT_FALSE(file.Open(dir.Folder(), Mode::kReadExclusive));             // a folder
  EXPECT_FALSE(file.Open(dir.File(L"busy.bin"), Mode::kReadExclusive));    // locked
  EXPECT_FALSE(file.Open(dir.File(L"busy.bin"), Mode::kCreateReadWrite));  // locked
  EXPECT_EQ(OpenDescriptors(), before);
}

#if defined(VARNHOLT_FAULT_INJECTION)
namespace fi = platform::fault_injection;

TEST(Owners, ALateCloseErrorStillReleasesTheDescriptor) {
  TempDir dir;
  const std::size_t before = OpenDescriptors();
  platform::File file;
  ASSERT_TRUE(file.Open(dir.File(L"late.bin"), Mode::kCreateWriteExclusive));
  fi::ScopedFault late({fi::Operation::kClose, L"late.bin", EIO});
  EXPECT_THROW(file.Close(), FileError);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Owners, AFailedFlushOfTheSettingsStoreKeepsNoDescriptorAndTheOldStore) {
  SettingsSandbox sandbox;
  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(L"Software\\Varnholt\\Settings"), platform::kErrorSuccess);
  const auto stored = ReadAll(sandbox.file());
  const std::size_t before = OpenDescriptors();
  {
    fi::ScopedFault failing({fi::Operation::kSync, L"settings.new", EIO});
    EXPECT_EQ(key.SetStringValue(L"GeoPath", "D:/Maps/", 9), static_cast<platform::ErrorCode>(EIO));
    EXPECT_EQ(fi::HitCount(), 1u);
  }
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(ReadAll(sandbox.file()), stored);
  EXPECT_FALSE(std::filesystem::exists(sandbox.file() + ".new"));
  EXPECT_EQ(key.SetStringValue(L"GeoPath", "D:/Maps/", 9), platform::kErrorSuccess);
}
#endif
#endif

}  // namespace
