#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "package/package_path.h"
#include "package/reader.h"
#include "package/writer.h"
#include "support/temp_dir.h"

namespace {

TEST(PackageWriter, WhatItWritesReadsBackEntryByEntry) {
  TempDir dir;
  const std::wstring path = dir.File(L"Round.nwq");
  {
    PackageWriter writer(path, *PackageHeader::Make(L"Round", L"Rund", L"D"));
    writer.AddData(L"", L"a.txt", "alpha", 5, 1, 2);
    writer.AddData(L"x\\y", L"empty", "", 0, 3, 4);
    std::vector<char> big(3'000'000, 'b');
    writer.AddData(L"x", L"big", big.data(), big.size(), 5, 6);
    writer.Close();
  }
  PackageReader reader;
  ASSERT_EQ(reader.Open(path, L"Round").outcome, package_engine::Outcome::kExtracted);
  EXPECT_EQ(reader.header().TITLE(), L"Rund");
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    std::uint64_t bytes;
    std::uint64_t created;
  } expected[] = {{L"", L"a.txt", 5, 1}, {L"x\\y", L"empty", 0, 3}, {L"x", L"big", 3'000'000, 5}};
  for (const auto& e : expected) {
    PackageFileRecord record;
    ASSERT_TRUE(reader.NextRecord(&record));
    EXPECT_EQ(record.Folder(), e.folder);
    EXPECT_EQ(record.Name(), e.name);
    EXPECT_EQ(record.CreateDate(), e.created);
    EXPECT_EQ(record.ModifiedDate(), e.created + 1);
    std::uint64_t decoded = 0;
    EXPECT_EQ(reader.VerifyData(&decoded), StreamState::kComplete);
    EXPECT_EQ(decoded, e.bytes);
  }
  PackageFileRecord end;
  EXPECT_FALSE(reader.NextRecord(&end));
}

TEST(PackageWriter, RefusesTextsThatDoNotFitAndReportsUncreatableFiles) {
  TempDir dir;
  PackageWriter writer(dir.File(L"T.nwq"), *PackageHeader::Make(L"T", L"", L""));
  EXPECT_THROW(writer.AddData(std::wstring(259, L'f'), L"n", "", 0, 0, 0), PackageWriter::TextTooLong);
  EXPECT_THROW(PackageWriter(dir.File(L"missing/T.nwq"), *PackageHeader::Make(L"T", L"", L"")), FileError);
}

TEST(PackageWriter, AHeaderThatCannotBeWrittenLeavesNoPackage) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a file size limit";
#else
  TempDir dir;
  const std::wstring path = dir.File(L"Cut.nwq");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = old;
  tight.rlim_cur = 100;  // the header is 924 bytes
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  bool raised = false;
  try {
    PackageWriter writer(path, *PackageHeader::Make(L"Cut", L"", L""));
  } catch (const FileError&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_TRUE(raised);
  EXPECT_FALSE(std::filesystem::exists(path));
#endif
}

TEST(PackagePath, SplitsAndJoinsPackageAndEntryPaths) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(package_path::PackageNameOf(L"a/b/c.d.nwq"), L"c.d");
  EXPECT_EQ(package_path::PackageNameOf(L"a" + sep + L"Nord.nwq"), L"Nord");
  EXPECT_EQ(package_path::PackageNameOf(L"Nord.old"), std::nullopt);
  EXPECT_EQ(package_path::PackageNameOf(L"plain"), std::nullopt);
  EXPECT_EQ(package_path::PackageNameOf(L"x.nwq/inner"), std::nullopt);
#if defined(_WIN32)  // the file system ignores case there
  EXPECT_EQ(package_path::PackageNameOf(L"Nord.NWQ"), L"Nord");
#else
  EXPECT_EQ(package_path::PackageNameOf(L"Nord.NWQ"), std::nullopt);
#endif
  EXPECT_EQ(package_path::FolderOf(L"a/b/c.nwq"), L"a/b/");
  EXPECT_EQ(package_path::FolderOf(L"c.nwq"), L"");
  EXPECT_EQ(package_path::StoredFolderOf(std::filesystem::path("x") / "y" / "z"), L"x\\y\\z");
  EXPECT_EQ(package_path::StoredFolderOf(std::filesystem::path()), L"");

  const package_path::EntryPaths top = package_path::Join(L"D" + sep, L"", L"a.txt");
  EXPECT_EQ(top.folder, L"D" + sep);
  EXPECT_EQ(top.file, L"D" + sep + L"a.txt");
  const package_path::EntryPaths deep = package_path::Join(L"D" + sep, L"m\\n", L"a.txt");
  EXPECT_EQ(deep.folder, L"D" + sep + L"m" + sep + L"n" + sep);
  EXPECT_EQ(deep.file, deep.folder + L"a.txt");
  EXPECT_EQ(package_path::Join(L"D" + sep, L"m\\n\\", L"a.txt").file, deep.file);
}

}  // namespace
