// Whole copies that replace their target, shared readers, and the errors that
// say a file is in use.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"
#if defined(_WIN32)
#include <windows.h>
#endif
#if defined(VARNHOLT_FAULT_INJECTION) && !defined(_WIN32)
#include "platform/fault_injection.h"
#endif

namespace {

using Mode = platform::File::Mode;

// More than the copy's buffer, with every byte value, so chunks that were
// dropped, doubled or reordered show.
std::vector<std::uint8_t> Program() {
  std::vector<std::uint8_t> bytes((1u << 20) * 2 + 4099);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// Only the named files: no temporary file stays behind.
std::vector<std::string> Names(const TempDir& dir) { return TreeOf(dir.path()); }

TEST(CopyFileWhole, CopiesByteForByteAndReplacesALongerFileWhole) {
  TempDir dir;
  const std::vector<std::uint8_t> program = Program();
  WriteAll(dir.File(L"Setup.exe"), program);
  FileError error;
  ASSERT_TRUE(platform::CopyFileWhole(dir.File(L"Setup.exe"), dir.File(L"copy.exe"), &error)) << error.osError();
  EXPECT_EQ(ReadAll(dir.File(L"copy.exe")), program);

  std::vector<std::uint8_t> longer = program;
  longer.resize(program.size() + 70000, 0xEE);
  WriteAll(dir.File(L"copy.exe"), longer);
  WriteAll(dir.File(L"Setup.exe"), Bytes("short"));
  ASSERT_TRUE(platform::CopyFileWhole(dir.File(L"Setup.exe"), dir.File(L"copy.exe"), &error));
  EXPECT_EQ(ReadAll(dir.File(L"copy.exe")), Bytes("short"));
  EXPECT_EQ(ReadAll(dir.File(L"Setup.exe")), Bytes("short"));

  WriteAll(dir.File(L"empty.exe"), {});
  ASSERT_TRUE(platform::CopyFileWhole(dir.File(L"empty.exe"), dir.File(L"copy.exe"), nullptr));
  EXPECT_TRUE(ReadAll(dir.File(L"copy.exe")).empty());
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"Setup.exe", "copy.exe", "empty.exe"}));
}

TEST(CopyFileWhole, AFailureLeavesTheTargetAsItWasAndNamesThePathThatFailed) {
  TempDir dir;
  WriteAll(dir.File(L"Setup.exe"), Bytes("new program"));
  WriteAll(dir.File(L"copy.exe"), Bytes("old program"));
  FileError error;

  EXPECT_FALSE(platform::CopyFileWhole(dir.File(L"missing.exe"), dir.File(L"copy.exe"), &error));
  EXPECT_EQ(error.cause(), FileError::kFileNotFound);
  EXPECT_EQ(error.fileName(), dir.File(L"missing.exe"));

  // A target in a folder that does not exist: the target is named, not the folder or a temporary file.
  const std::wstring nowhere = dir.Folder(L"no") + L"copy.exe";
  EXPECT_FALSE(platform::CopyFileWhole(dir.File(L"Setup.exe"), nowhere, &error));
  EXPECT_NE(error.cause(), FileError::kNone);
  EXPECT_NE(error.osError(), 0);
  EXPECT_EQ(error.fileName(), nowhere);

  // A folder with a file in it where the copy should go: the move is refused.
  std::filesystem::create_directories(dir.path() / "taken");
  WriteAll(dir.path() / "taken" / "inside.txt", Bytes("inside"));
  EXPECT_FALSE(platform::CopyFileWhole(dir.File(L"Setup.exe"), dir.File(L"taken"), &error));
  EXPECT_NE(error.cause(), FileError::kNone);
  EXPECT_EQ(error.fileName(), dir.File(L"taken"));
  EXPECT_EQ(ReadAll(dir.path() / "taken" / "inside.txt"), Bytes("inside"));

  // A source that someone is writing is not copied half-written.
  {
    platform::File writer;
    ASSERT_TRUE(writer.Open(dir.File(L"Setup.exe"), Mode::kUpdateExclusive));
    EXPECT_FALSE(platform::CopyFileWhole(dir.File(L"Setup.exe"), dir.File(L"copy.exe"), &error));
    EXPECT_EQ(error.cause(), FileError::kSharingViolation);
    EXPECT_EQ(error.fileName(), dir.File(L"Setup.exe"));
  }

  EXPECT_EQ(ReadAll(dir.File(L"copy.exe")), Bytes("old program"));
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"Setup.exe", "copy.exe", "taken", "taken/inside.txt"}));
}

#if defined(VARNHOLT_FAULT_INJECTION) && !defined(_WIN32)
namespace fi = platform::fault_injection;

// The disk fills or the flush fails while the copy is written beside its
// target: the target keeps the old program, no part of the new one stays.
TEST(CopyFileWhole, AWriteOrFlushThatFailsKeepsTheOldTargetAndNoTemporaryFile) {
  const platform::ErrorCode full = ENOSPC, io = EIO;
  TempDir dir;
  WriteAll(dir.File(L"Setup.exe"), Program());
  WriteAll(dir.File(L"copy.exe"), Bytes("old program"));
  struct Case {
    fi::Fault fault;
    FileError::Cause cause;
  };
  for (const Case& c : {Case{{fi::Operation::kWrite, L"cpy", full, 1u << 20}, FileError::kDiskFull},
                        Case{{fi::Operation::kSync, L"cpy", io}, FileError::kHardIO},
                        Case{{fi::Operation::kRead, L"Setup.exe", io, 3000}, FileError::kHardIO}}) {
    fi::ScopedFault armed(c.fault);
    FileError error;
    EXPECT_FALSE(platform::CopyFileWhole(dir.File(L"Setup.exe"), dir.File(L"copy.exe"), &error));
    EXPECT_EQ(fi::HitCount(), 1u);
    EXPECT_EQ(error.cause(), c.cause);
    EXPECT_EQ(error.fileName(), dir.File(c.fault.operation == fi::Operation::kRead ? L"Setup.exe" : L"copy.exe"));
    EXPECT_EQ(ReadAll(dir.File(L"copy.exe")), Bytes("old program"));
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"Setup.exe", "copy.exe"}));
  }
}
#endif

TEST(File, SharedReadersReadTogetherAndKeepWritersOut) {
  TempDir dir;
  const std::wstring path = dir.File(L"Setup.exe");
  WriteAll(path, Bytes("program"));
  platform::File first, second, other;
  ASSERT_TRUE(first.Open(path, Mode::kReadShareRead));
  ASSERT_TRUE(second.Open(path, Mode::kReadShareRead));
  char bytes[7] = {};
  EXPECT_EQ(second.Read(bytes, sizeof bytes), sizeof bytes);
  FileError error;
  EXPECT_FALSE(other.Open(path, Mode::kCreateWriteExclusive, &error));
  EXPECT_EQ(error.cause(), FileError::kSharingViolation);
  EXPECT_FALSE(other.Open(path, Mode::kReadExclusive, &error));
  EXPECT_EQ(ReadAll(path), Bytes("program"));
  first.Close();
  second.Close();
  EXPECT_TRUE(other.Open(path, Mode::kUpdateExclusive));
  EXPECT_FALSE(first.Open(path, Mode::kReadShareRead, &error));
  EXPECT_EQ(error.cause(), FileError::kSharingViolation);
}

TEST(InUse, AFileHeldOpenCannotGoAndSaysSoOtherFailuresDoNot) {
  TempDir dir;
  const std::wstring path = dir.File(L"map.dat");
  WriteAll(path, Bytes("map"));
  {
    platform::File viewer;
    ASSERT_TRUE(viewer.Open(path, Mode::kReadExclusive));
    EXPECT_FALSE(platform::RemoveUnusedFile(path));
    EXPECT_TRUE(platform::IsInUseError(platform::LastError())) << platform::LastError();
  }
  EXPECT_FALSE(platform::RemoveUnusedFile(dir.File(L"missing.dat")));
  EXPECT_FALSE(platform::IsInUseError(platform::LastError()));
  EXPECT_FALSE(platform::IsInUseError(platform::kErrorSuccess));
  EXPECT_TRUE(platform::RemoveUnusedFile(path));
}

#if defined(_WIN32)
// Access denied is what both give: a file its owner marked read-only is not
// held by anyone, and taken for one that is it would be reported as going at
// the next restart, which never takes it.
TEST(InUse, AReadOnlyFileIsNotTakenForOneInUse) {
  TempDir dir;
  const std::wstring path = dir.File(L"map.dat");
  WriteAll(path, Bytes("map"));
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::RemoveUnusedFile(path));
  EXPECT_FALSE(platform::IsInUseError(platform::LastError())) << platform::LastError();
  EXPECT_EQ(ReadAll(path), Bytes("map"));
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
}
#endif

#if !defined(_WIN32)
// Nothing here keeps a list of files to remove at a restart, and nothing
// needs to wait for a program to end before its file can go.
TEST(AtRestart, PosixHasNoSuchListAndNoCopyThatWaits) {
  TempDir dir;
  WriteAll(dir.File(L"map.dat"), Bytes("map"));
  errno = 0;
  EXPECT_FALSE(platform::RemoveAtRestart(dir.File(L"map.dat")));
  EXPECT_EQ(platform::LastError(), static_cast<platform::ErrorCode>(ENOTSUP));
  EXPECT_FALSE(platform::RemoveAfterExit(dir.File(L"map.dat"), {dir.Folder()}));
  EXPECT_FALSE(platform::RunRemovalAfterExit({L"/remove-after-exit=4", dir.File(L"map.dat"), dir.Folder()}));
  EXPECT_EQ(ReadAll(dir.File(L"map.dat")), Bytes("map"));
}
#endif

}  // namespace
