#include <gtest/gtest.h>

#include <filesystem>

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
  ASSERT_EQ(reader.Open(path), S_OK);
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

TEST(PackageReader, NameAndFolderOfAPath) {
  EXPECT_EQ(PackageNameFromPath(L"a/b/c.d.nwq"), L"c.d");
  EXPECT_EQ(PackageNameFromPath(L"plain"), L"plain");
  EXPECT_EQ(FolderOfPath(L"a/b/c.nwq"), L"a/b/");
  EXPECT_EQ(FolderOfPath(L"c.nwq"), L"");
}

}  // namespace
