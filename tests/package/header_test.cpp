#include <gtest/gtest.h>

#include <filesystem>

#include "package/package.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace {

HRESULT Check(const TempDir& dir, const std::wstring& name, PackageHeader* header = nullptr) {
  PackageHeader local;
  return ReadPackageHeader(dir.Folder(), name, header ? header : &local);
}

TEST(PackageHeader, AValidHeaderGivesItsFieldsAndLeavesTheFileAtTheFirstRecord) {
  TempDir dir;
  PackageBytes(L"ABC", L"Karte Nord").Entry(L"maps", L"a.txt", Bytes("x")).WriteTo(dir.Folder());
  platform::File file;
  ASSERT_TRUE(file.Open(BuildPackagePath(dir.Folder(), L"ABC"), platform::File::Mode::kReadExclusive));
  PackageHeader header;
  ASSERT_EQ(CheckPackageHeader(L"ABC", &header, &file), S_OK);
  EXPECT_EQ(file.Position(), kPackageHeaderSize);
  EXPECT_EQ(header.Version(), 2);
  EXPECT_EQ(header.GUID(), L"ABC");
  EXPECT_EQ(header.TITLE(), L"Karte Nord");
  EXPECT_EQ(header.DESCRIPTION(), L"Beschreibung");
}

TEST(PackageHeader, MissingBufferOrFileFails) {
  platform::File closed;
  PackageHeader header;
  EXPECT_EQ(CheckPackageHeader(L"A", nullptr, &closed), E_FAIL);
  EXPECT_EQ(CheckPackageHeader(L"A", &header, nullptr), E_FAIL);
  EXPECT_EQ(CheckPackageHeader(L"A", &header, &closed), E_FAIL);
}

TEST(PackageHeader, ExactlyTheHeaderIsAValidPackage) {
  TempDir dir;
  PackageBytes bytes(L"P");
  ASSERT_EQ(bytes.bytes().size(), 924u);
  bytes.WriteTo(dir.Folder());
  EXPECT_EQ(Check(dir, L"P"), S_OK);
}

TEST(PackageHeader, InvalidHeadersAreRefused) {
  TempDir dir;
  // A fourth unit where the magic's NUL belongs.
  PackageBytes fourth(L"M");
  fourth.bytes()[6] = 'X';
  fourth.WriteTo(dir.Folder());
  EXPECT_EQ(Check(dir, L"M"), E_FAIL);

  PackageBytes(L"V1", L"t", 1).WriteTo(dir.Folder());
  PackageBytes(L"V3", L"t", 3).WriteTo(dir.Folder());
  EXPECT_EQ(Check(dir, L"V1"), E_FAIL);
  EXPECT_EQ(Check(dir, L"V3"), E_FAIL);

  // One byte short: the magic is never looked at.
  PackageBytes shortOne(L"S");
  shortOne.bytes().resize(923);
  shortOne.WriteTo(dir.Folder());
  EXPECT_EQ(Check(dir, L"S"), E_FAIL);
}

TEST(PackageHeader, TheGuidMustEqualTheFileNameIncludingCase) {
  TempDir dir;
  PackageBytes(L"Nord").WriteTo(dir.Folder());
  std::filesystem::rename(dir.path() / "Nord.nwq", dir.path() / "nord.nwq");
  EXPECT_EQ(Check(dir, L"nord"), E_FAIL);
}

TEST(PackageHeader, AFolderNamedLikeAPackageIsNoPackage) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "x.nwq");
  EXPECT_EQ(Check(dir, L"x"), E_FAIL);
}

TEST(PackageHeader, MissingFileFails) {
  TempDir dir;
  EXPECT_EQ(Check(dir, L"nothing"), E_FAIL);
}

TEST(PackageHeader, AFileInUseCannotBeReadAsAPackage) {
  TempDir dir;
  PackageBytes(L"Busy").WriteTo(dir.Folder());
  platform::File holder;
  ASSERT_TRUE(holder.Open(BuildPackagePath(dir.Folder(), L"Busy"), platform::File::Mode::kCreateReadWrite));
  EXPECT_EQ(Check(dir, L"Busy"), E_FAIL);
}

TEST(PackageHeader, ATextSlotWithoutNulIsReadToItsEnd) {
  PackageHeader header = *PackageHeader::Make(L"G", L"", L"");
  for (std::size_t i = 0; i < 100; ++i) {
    header.bytes[212 + 2 * i] = 'a';
    header.bytes[212 + 2 * i + 1] = 0;
  }
  EXPECT_EQ(header.TITLE(), std::wstring(100, L'a'));
}

TEST(PackageHeader, TextsMustFitTheirSlots) {
  EXPECT_TRUE(PackageHeader::Make(std::wstring(99, L'g'), std::wstring(99, L't'), std::wstring(255, L'd')));
  EXPECT_FALSE(PackageHeader::Make(std::wstring(100, L'g'), L"", L""));
  EXPECT_FALSE(PackageHeader::Make(L"g", L"", std::wstring(256, L'd')));
  EXPECT_TRUE(PackageFileRecord::Make(std::wstring(99, L'n'), std::wstring(258, L'f'), 0, 0, 0));
  EXPECT_FALSE(PackageFileRecord::Make(L"n", std::wstring(259, L'f'), 0, 0, 0));
}

TEST(PackageHeader, TextsKeepCharactersBeyondTheBasicPlane) {
  const std::wstring title =
      std::wstring(L"Karte ") + (sizeof(wchar_t) == 2 ? L"\xD83D\xDDFA" : L"\U0001F5FA") + L" \u00DF";
  const auto header = PackageHeader::Make(L"U", title, L"");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->TITLE(), title);
}

TEST(PackageHeader, PackagePathTakesTheFolderUnchanged) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(BuildPackagePath(L"karten" + sep, L"ABC"), L"karten" + sep + sep + L"ABC.nwq");
  EXPECT_EQ(BuildPackagePath(L"", L"a.b"), sep + L"a.b.nwq");
}

}  // namespace
