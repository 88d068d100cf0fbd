#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "package/package.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::wstring> Scan(const std::wstring& folder) {
  std::vector<std::wstring> names;
  EXPECT_EQ(package::GetAvailableGuids(folder, names), S_OK);
  return names;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Catalogue, AMissingFolderIsAnEmptyCatalogueAndSuccess) {
  TempDir dir;
  EXPECT_TRUE(Scan(dir.Folder(L"missing")).empty());
}

TEST(Catalogue, ListsValidPackagesOnlyAndAppends) {
  TempDir dir;
  PackageBytes(L"Nord", L"Gleich").WriteTo(dir.Folder());
  PackageBytes(L"Sued", L"Gleich").WriteTo(dir.Folder());
  PackageBytes(L"a.b").WriteTo(dir.Folder());
  PackageBytes(L"wrong", L"t", 3).WriteTo(dir.Folder());
  PackageBytes(L"Other").WriteTo(dir.Folder());
  std::filesystem::rename(dir.path() / "Other.nwq", dir.path() / "renamed.nwq");
  WriteAll(dir.path() / "short.nwq", Bytes("NWQ"));
  WriteAll(dir.path() / "readme.txt", Bytes("not a package"));
  std::filesystem::create_directory(dir.path() / "folder.nwq");
  std::filesystem::create_directory(dir.path() / "sub");
  PackageBytes(L"Deep").WriteTo(dir.Folder(L"sub"));

  std::vector<std::wstring> names{L"kept"};
  EXPECT_EQ(package::GetAvailableGuids(dir.Folder(), names), S_OK);
  EXPECT_EQ(Sorted(names), (std::vector<std::wstring>{L"Nord", L"Sued", L"a.b", L"kept"}));
}

#if !defined(_WIN32)  // Windows' text-mode stdout adds a "\r" of its own
TEST(Catalogue, TraceNamesEachCandidateBeforeItsHeaderIsRead) {
  TempDir dir;
  PackageBytes(L"Nord").WriteTo(dir.Folder());
  std::vector<std::wstring> names;
  ::testing::internal::CaptureStdout();
  package::GetAvailableGuids(dir.Folder(), names);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(output.substr(0, output.find("\r\nDatei: ")), "GetAvailableGuids: Nord\r\n");
}
#endif

TEST(Catalogue, TwoScansOfAnUnchangedFolderAgree) {
  TempDir dir;
  for (const wchar_t* name : {L"c", L"a", L"b", L"d"})
    PackageBytes(name).WriteTo(dir.Folder());
  EXPECT_EQ(Scan(dir.Folder()), Scan(dir.Folder()));
  EXPECT_EQ(Scan(dir.Folder()).size(), 4u);
}

}  // namespace
