#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/platform.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(Folders, CreateFolderTreeMakesEveryMissingParentAndAcceptsExistingOnes) {
  TempDir dir;
  const std::wstring deep = dir.Folder(L"a") + L"b" + platform::kPathSeparator + L"c";
  EXPECT_TRUE(platform::CreateFolderTree(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(platform::CreateFolderTree(deep));
  EXPECT_TRUE(platform::CreateFolderTree(deep + platform::kPathSeparator));
  EXPECT_TRUE(platform::IsFolder(deep));
}

TEST(Folders, AFileInThePathIsNoFolder) {
  TempDir dir;
  WriteAll(dir.path() / "file", Bytes("x"));
  EXPECT_FALSE(platform::CreateFolderTree(dir.File(L"file")));
  EXPECT_NE(platform::LastError(), 0u);
  EXPECT_FALSE(platform::CreateFolderTree(dir.Folder(L"file") + L"sub"));
  EXPECT_FALSE(platform::IsFolder(dir.File(L"file")));
}

#if defined(_WIN32)
TEST(Folders, ADriveThatDoesNotExistCannotHoldFolders) {
  // Wine maps only a few letters; Q: is none of them.
  EXPECT_FALSE(platform::CreateFolderTree(L"Q:\\Varnholt\\Maps"));
  EXPECT_FALSE(platform::SystemErrorText(platform::LastError()).empty());
}
#endif

// Clean-up takes a folder by the path it was made with, non-ASCII too, and
// never what still holds something.
TEST(Folders, RemoveEmptyFolderTakesOnlyAnEmptyFolder) {
  TempDir dir;
  // Spelt without std::filesystem, which cannot convert them in the C locale.
  const std::wstring outer = dir.Folder() + L"H\u00F6hen";
  const std::wstring empty = outer + platform::kPathSeparator + L"\u00DCbersicht";
  const std::wstring full = dir.Folder(L"voll");
  ASSERT_TRUE(platform::CreateFolderTree(empty));
  ASSERT_TRUE(platform::CreateFolderTree(full));
  WriteAll(dir.path() / "voll" / "file", Bytes("x"));
  EXPECT_FALSE(platform::RemoveEmptyFolder(outer));
  EXPECT_TRUE(platform::RemoveEmptyFolder(empty));
  EXPECT_FALSE(platform::IsFolder(empty));
  EXPECT_TRUE(platform::RemoveEmptyFolder(outer));
  EXPECT_FALSE(platform::RemoveEmptyFolder(full));
  EXPECT_FALSE(platform::RemoveEmptyFolder(dir.File(L"voll") + platform::kPathSeparator + L"file"));
  EXPECT_TRUE(platform::IsFolder(full));
}

TEST(Folders, OneFolderHasOneIdentityHoweverItsPathIsSpelt) {
  TempDir dir;
  const wchar_t sep = platform::kPathSeparator;
  ASSERT_TRUE(platform::CreateFolderTree(dir.Folder(L"a")));
  ASSERT_TRUE(platform::CreateFolderTree(dir.Folder(L"b")));
  const auto a = platform::IdentityOf(dir.Folder(L"a"));
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(platform::IdentityOf(dir.File(L"a")), a);
  EXPECT_EQ(platform::IdentityOf(dir.Folder(L"a") + L"." + sep), a);
  EXPECT_EQ(platform::IdentityOf(dir.Folder(L"a") + sep + sep), a);
  EXPECT_EQ(platform::IdentityOf(dir.Folder(L"b") + L".." + sep + L"a"), a);
#if defined(_WIN32)
  EXPECT_EQ(platform::IdentityOf(dir.Folder(L"A")), a);
#endif
  EXPECT_NE(platform::IdentityOf(dir.Folder(L"b")), a);
  EXPECT_FALSE(platform::IdentityOf(dir.Folder(L"missing")).has_value());
}

TEST(Folders, FindFilesMatchesThePatternDirectlyInTheFolder) {
  TempDir dir;
  for (const char* name : {"a.nwq", "b.nwq", "c.txt", "d.nwq.bak"})
    WriteAll(dir.path() / name, Bytes("x"));
  fs::create_directories(dir.path() / "sub");
  WriteAll(dir.path() / "sub" / "e.nwq", Bytes("x"));
  auto names = platform::FindFiles(dir.Folder(), L"*.nwq");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"a.nwq", L"b.nwq"}));
  EXPECT_TRUE(platform::FindFiles(dir.Folder(L"missing"), L"*.nwq").empty());
}

TEST(Folders, TemporaryFilesAreNewEmptyAndUniquelyNamed) {
  TempDir dir;
  const auto first = platform::CreateTempFile(dir.path().wstring(), L"TST");
  const auto second = platform::CreateTempFile(dir.path().wstring(), L"TST");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(fs::path(*first).filename().wstring().substr(0, 3), L"TST");
  EXPECT_EQ(fs::file_size(*first), 0u);
  EXPECT_TRUE(platform::RemoveFile(*first));
  EXPECT_FALSE(fs::exists(*first));
  EXPECT_FALSE(platform::CreateTempFile(dir.Folder(L"missing"), L"TST"));
}

TEST(FileTimes, SetTimesReadBackAndZeroLeavesATimeAlone) {
  TempDir dir;
  const std::wstring path = dir.File(L"t.txt");
  WriteAll(path, Bytes("t"));
  platform::FileTimes before;
  ASSERT_TRUE(platform::GetFileTimes(path, &before));
  platform::FileTimes set;
  set.lastWrite = 132855446450000000ull;  // 2022-01-02 03:04:05 UTC
  set.creation = 132593811670000000ull;
  ASSERT_TRUE(platform::SetFileTimes(path, set));
  platform::FileTimes after;
  ASSERT_TRUE(platform::GetFileTimes(path, &after));
  EXPECT_EQ(after.lastWrite, set.lastWrite);
  EXPECT_EQ(after.lastAccess, before.lastAccess);
#if defined(_WIN32)           // POSIX keeps no creation time
  if (!RunningUnderWine()) {  // Wine keeps no creation time of its own
    EXPECT_EQ(after.creation, set.creation);
  }
#endif
  EXPECT_FALSE(platform::SetFileTimes(dir.File(L"missing"), set));
}

// One look gives what a run compares an installed file by, and a folder or
// nothing is no file.
TEST(FileTimes, LookAtFileGivesARegularFilesSizeAndLastWriteTime) {
  TempDir dir;
  const std::wstring path = dir.File(L"t.txt");
  WriteAll(path, Bytes("three"));
  platform::FileTimes set;
  set.lastWrite = 132855446450000000ull;
  ASSERT_TRUE(platform::SetFileTimes(path, set));
  const std::optional<platform::FileLook> look = platform::LookAtFile(path);
  ASSERT_TRUE(look.has_value());
  EXPECT_EQ(look->size, 5u);
  EXPECT_EQ(look->lastWrite, set.lastWrite);
  ASSERT_TRUE(platform::CreateFolderTree(dir.Folder(L"sub")));
  EXPECT_FALSE(platform::LookAtFile(dir.Folder(L"sub")).has_value());
  EXPECT_FALSE(platform::LookAtFile(dir.File(L"sub")).has_value());
  EXPECT_FALSE(platform::LookAtFile(dir.File(L"missing")).has_value());
}

#if !defined(_WIN32)
// A link is not the file a run wrote there, however alike the file behind it
// looks (Windows' attribute call reports the link itself too): a run that
// skips unchanged files writes a file in its place, and nothing is read or
// left behind it.
TEST(FileTimes, LookAtFileDoesNotFollowALink) {
  TempDir dir;
  const std::wstring file = dir.File(L"elsewhere.bin");
  WriteAll(file, Bytes("three"));
  const std::string link = text::ToUtf8(dir.File(L"link.bin"));
  ASSERT_EQ(::symlink(text::ToUtf8(file).c_str(), link.c_str()), 0);
  EXPECT_TRUE(platform::LookAtFile(file).has_value());
  EXPECT_FALSE(platform::LookAtFile(dir.File(L"link.bin")).has_value());
}
#endif

}  // namespace
