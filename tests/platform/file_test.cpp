#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

using Mode = platform::File::Mode;

TEST(File, WritesReadsSeeksAndReportsItsLength) {
  TempDir dir;
  const std::wstring path = dir.File(L"data.bin");
  platform::File file;
  ASSERT_TRUE(file.Open(path, Mode::kCreateReadWrite));
  file.Write("hello world", 11);
  EXPECT_EQ(file.Length(), 11u);
  EXPECT_EQ(file.Seek(6, platform::File::Origin::kBegin), 6u);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);  // short only at the end
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(file.Position(), 11u);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
}

TEST(File, AFailedSeekIsASeekErrorAndLeavesThePosition) {
#if defined(_WIN32)
  const std::int64_t negativeSeek = 131;  // ERROR_NEGATIVE_SEEK
#else
  const std::int64_t negativeSeek = EINVAL;
#endif
  TempDir dir;
  const std::wstring path = dir.File(L"seek.bin");
  platform::File file;
  ASSERT_TRUE(file.Open(path, Mode::kCreateReadWrite));
  file.Write("abc", 3);
  for (auto origin : {platform::File::Origin::kBegin, platform::File::Origin::kCurrent, platform::File::Origin::kEnd}) {
    try {
      file.Seek(-4, origin);
      FAIL() << "no FileError";
    } catch (const FileError& error) {
      EXPECT_EQ(error.cause(), FileError::kBadSeek);
      EXPECT_EQ(error.osError(), negativeSeek);
      EXPECT_EQ(error.Text(), L"Seek failed on " + path);
    }
  }
  EXPECT_EQ(file.Position(), 3u);
}

TEST(File, CreatingTruncatesAnExistingFile) {
  TempDir dir;
  WriteAll(dir.path() / "t.txt", Bytes("old content"));
  platform::File file;
  ASSERT_TRUE(file.Open(dir.File(L"t.txt"), Mode::kCreateWriteExclusive));
  file.Write("new", 3);
  file.Close();
  EXPECT_EQ(ReadAll(dir.path() / "t.txt"), Bytes("new"));
}

TEST(File, AnUpdateKeepsTheFileAndTruncateCutsItWithoutMovingThePosition) {
  TempDir dir;
  WriteAll(dir.path() / "u.bin", Bytes("header|entries|old tail"));
  platform::File file;
  EXPECT_FALSE(file.Open(dir.File(L"none.bin"), Mode::kUpdateExclusive));  // never creates
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "none.bin"));
  ASSERT_TRUE(file.Open(dir.File(L"u.bin"), Mode::kUpdateExclusive));
  EXPECT_EQ(file.Length(), 23u);
  platform::File other;
  EXPECT_FALSE(other.Open(dir.File(L"u.bin"), Mode::kReadExclusive));
  file.Seek(3, platform::File::Origin::kBegin);
  file.Truncate(15);
  EXPECT_EQ(file.Position(), 3u);
  EXPECT_EQ(file.Length(), 15u);
  file.Seek(0, platform::File::Origin::kEnd);
  file.Write("new", 3);
  file.Close();
  EXPECT_EQ(ReadAll(dir.path() / "u.bin"), Bytes("header|entries|new"));
}

TEST(File, OpensAreExclusive) {
  TempDir dir;
  const std::wstring path = dir.File(L"shared.bin");
  WriteAll(path, Bytes("content"));
  platform::File first;
  ASSERT_TRUE(first.Open(path, Mode::kReadExclusive));
  platform::File second;
  FileError error;
  EXPECT_FALSE(second.Open(path, Mode::kReadExclusive, &error));
  EXPECT_EQ(error.cause(), FileError::kSharingViolation);
  EXPECT_FALSE(second.Open(path, Mode::kCreateWriteExclusive, &error));
  EXPECT_EQ(error.cause(), FileError::kSharingViolation);
  EXPECT_EQ(error.fileName(), path);
  // A writer that was refused must not have emptied the file.
  first.Close();
  EXPECT_EQ(ReadAll(path), Bytes("content"));
  EXPECT_TRUE(second.Open(path, Mode::kCreateWriteExclusive));
}

TEST(File, WhileWrittenAFileCannotBeRead) {
  TempDir dir;
  const std::wstring path = dir.File(L"busy.bin");
  platform::File writer;
  ASSERT_TRUE(writer.Open(path, Mode::kCreateWriteExclusive));
  platform::File reader;
  FileError error;
  EXPECT_FALSE(reader.Open(path, Mode::kReadExclusive, &error));
  EXPECT_EQ(error.cause(), FileError::kSharingViolation);
}

TEST(File, MissingFilesAndFoldersDoNotOpen) {
  TempDir dir;
  platform::File file;
  FileError error;
  EXPECT_FALSE(file.Open(dir.File(L"none.bin"), Mode::kReadExclusive, &error));
  EXPECT_EQ(error.cause(), FileError::kFileNotFound);
  EXPECT_EQ(error.Text(), dir.File(L"none.bin") + L" was not found.");
  EXPECT_FALSE(file.Open(dir.Folder(), Mode::kReadExclusive, &error));
  EXPECT_FALSE(file.Open(dir.File(L"no/such/dir.bin"), Mode::kCreateWriteExclusive, &error));
  EXPECT_FALSE(file.IsOpen());
}

TEST(File, IoOnAClosedFileRaisesNamingTheFile) {
  TempDir dir;
  platform::File file;
  ASSERT_TRUE(file.Open(dir.File(L"c.bin"), Mode::kCreateWriteExclusive));
  file.Close();
  try {
    char byte = 0;
    file.Read(&byte, 1);
    FAIL() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_EQ(error.fileName(), dir.File(L"c.bin"));
  }
}

TEST(File, MovingHandsOverOwnership) {
  TempDir dir;
  platform::File a;
  ASSERT_TRUE(a.Open(dir.File(L"m.bin"), Mode::kCreateReadWrite));
  platform::File b = std::move(a);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_TRUE(b.IsOpen());
  b.Write("x", 1);
  EXPECT_EQ(b.Length(), 1u);
}

// Replacing a file in one step: a new file beside it, then the move over it.
TEST(Replacing, ACreateNewOpenRefusesATakenNameAndLeavesItsFile) {
  TempDir dir;
  const std::wstring path = dir.File(L"taken.bin");
  WriteAll(path, Bytes("someone's"));
  platform::File file;
  FileError error;
  EXPECT_FALSE(file.Open(path, Mode::kCreateNewWrite, &error));
  EXPECT_TRUE(platform::IsExistsError(static_cast<platform::ErrorCode>(error.osError())));
  EXPECT_EQ(ReadAll(path), Bytes("someone's"));
  ASSERT_TRUE(file.Open(dir.File(L"new.bin"), Mode::kCreateNewWrite, &error));
  EXPECT_FALSE(platform::IsExistsError(platform::kErrorSuccess));
  // Exclusive like every open: nobody reads it half-written.
  platform::File reader;
  EXPECT_FALSE(reader.Open(dir.File(L"new.bin"), Mode::kReadExclusive));
}

TEST(Replacing, TheMoveReplacesTheTargetOrLeavesBothAsTheyWere) {
  TempDir dir;
  const std::wstring from = dir.File(L"new.tmp");
  const std::wstring to = dir.File(L"target.bin");
  WriteAll(from, Bytes("new"));
  WriteAll(to, Bytes("old and longer"));
  ASSERT_TRUE(platform::MoveReplacing(from, to));
  EXPECT_EQ(ReadAll(to), Bytes("new"));
  EXPECT_FALSE(std::filesystem::exists(from));
  // A folder that holds files cannot be replaced by a file.
  WriteAll(from, Bytes("again"));
  std::filesystem::create_directories(dir.path() / "folder");
  WriteAll(dir.path() / "folder" / "inside.txt", Bytes("inside"));
  EXPECT_FALSE(platform::MoveReplacing(from, dir.File(L"folder")));
  EXPECT_NE(platform::LastError(), platform::kErrorSuccess);
  EXPECT_EQ(ReadAll(from), Bytes("again"));
  EXPECT_EQ(ReadAll(dir.path() / "folder" / "inside.txt"), Bytes("inside"));
  EXPECT_FALSE(platform::MoveReplacing(dir.File(L"missing.tmp"), to));
  EXPECT_EQ(ReadAll(to), Bytes("new"));
}

}  // namespace
