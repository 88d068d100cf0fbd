#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "package/package.h"
#include "platform/text.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace {

HRESULT Check(const TempDir& dir, const std::wstring& name, package::PackageHeader* header = nullptr) {
  package::PackageHeader local;
  return package::ReadPackageHeader(dir.Folder(), name, header ? header : &local);
}

TEST(PackageHeader, AValidHeaderGivesItsFieldsAndLeavesTheFileAtTheFirstRecord) {
  TempDir dir;
  PackageBytes(L"ABC", L"Karte Nord").Entry(L"maps", L"a.txt", Bytes("x")).WriteTo(dir.Folder());
  platform::File file;
  ASSERT_TRUE(file.Open(package::BuildPackagePath(dir.Folder(), L"ABC"), platform::File::Mode::kReadExclusive));
  package::PackageHeader header;
  ASSERT_EQ(package::CheckPackageHeader(L"ABC", &header, &file), S_OK);
  EXPECT_EQ(file.Position(), package::kPackageHeaderSize);
  EXPECT_EQ(header.Version(), 2);
  EXPECT_EQ(header.GUID(), L"ABC");
  EXPECT_EQ(header.TITLE(), L"Karte Nord");
  EXPECT_EQ(header.DESCRIPTION(), L"Beschreibung");
}

// Trace texts are pinned where POSIX writes them byte for byte; Windows'
// text-mode stdout adds a "\r" of its own to every line end.
#if !defined(_WIN32)
TEST(PackageHeader, TraceLinesNameTheFileAndItsFieldsOrRefuseIt) {
  TempDir dir;
  PackageBytes(L"ABC", L"Karte \u00DF").WriteTo(dir.Folder());
  PackageBytes(L"V3", L"t", 3).WriteTo(dir.Folder());
  package::PackageHeader header;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(package::ReadPackageHeader(dir.Folder(), L"ABC", &header), S_OK);
  EXPECT_EQ(package::ReadPackageHeader(dir.Folder(), L"V3", &header), E_FAIL);
  EXPECT_EQ(package::ReadPackageHeader(dir.Folder(), L"none", &header), E_FAIL);
  std::fflush(stdout);
  const std::string sep = "/";
  const std::string folder = text::ToUtf8(dir.Folder());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\r\nDatei: " + folder + sep +
                                                          "ABC.nwq\r\n"
                                                          "Version: 2\r\n"
                                                          "GUID: ABC\r\n"
                                                          "TITLE: Karte \xC3\x9F\r\n"
                                                          "DESCRIPTION: Beschreibung\r\n"
                                                          "\r\nDatei: " +
                                                          folder + sep +
                                                          "V3.nwq\r\n"
                                                          "Keine g\xC3\xBCltige Datei!"
                                                          "\r\nDatei: " +
                                                          folder + sep + "none.nwq\r\n");
}
#endif

// The format's offsets, against bytes laid out by hand rather than by the
// project's own writer.
TEST(PackageHeader, FieldsStandAtTheirOffsets) {
  std::array<std::uint8_t, package::kPackageHeaderSize> hand{};
  auto put = [&](std::size_t at, const char* text) {
    for (std::size_t i = 0; text[i] != 0; ++i)
      hand[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
  };
  put(0, "NWQ");
  hand[8] = 2;
  put(12, "G1");
  put(212, "Title");
  put(412, "Desc");
  package::PackageHeader header;
  header.bytes = hand;
  EXPECT_EQ(header.Magic(), L"NWQ");
  EXPECT_EQ(header.Version(), 2);
  EXPECT_EQ(header.GUID(), L"G1");
  EXPECT_EQ(header.TITLE(), L"Title");
  EXPECT_EQ(header.DESCRIPTION(), L"Desc");
  EXPECT_EQ(package::PackageHeader::Make(L"G1", L"Title", L"Desc")->bytes, hand);
  header.bytes[8] = 0;
  header.bytes[11] = 0x80;  // signed
  EXPECT_EQ(header.Version(), INT32_MIN);

  std::array<std::uint8_t, package::kPackageFileRecordSize> record{};
  auto putRecord = [&](std::size_t at, const char* text) {
    for (std::size_t i = 0; text[i] != 0; ++i)
      record[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
  };
  putRecord(0, "FILE");
  putRecord(10, "a.txt");
  putRecord(210, "maps\\x");
  for (int i = 0; i < 8; ++i) {
    record[728 + i] = static_cast<std::uint8_t>(0x10 + i);
    record[736 + i] = static_cast<std::uint8_t>(0x20 + i);
    record[744 + i] = static_cast<std::uint8_t>(i == 0 ? 0x2A : 0);
  }
  package::PackageFileRecord parsed;
  parsed.bytes = record;
  EXPECT_TRUE(parsed.HasFileMagic());
  EXPECT_EQ(parsed.Name(), L"a.txt");
  EXPECT_EQ(parsed.Folder(), L"maps\\x");
  EXPECT_EQ(parsed.CreateDate(), 0x1716151413121110ull);
  EXPECT_EQ(parsed.ModifiedDate(), 0x2726252423222120ull);
  EXPECT_EQ(parsed.FileSize(), 42);
  EXPECT_EQ(
      package::PackageFileRecord::Make(L"a.txt", L"maps\\x", 0x1716151413121110ull, 0x2726252423222120ull, 42)->bytes,
      record);
  parsed.bytes[751] = 0xFF;
  EXPECT_LT(parsed.FileSize(), 0);
}

TEST(PackageHeader, TheGuidIsComparedUnitForUnit) {
  package::PackageHeader header = *package::PackageHeader::Make(L"x", L"", L"");
  header.bytes[12] = 0x00;
  header.bytes[13] = 0xD8;  // an unpaired surrogate
  EXPECT_FALSE(header.GuidEquals(L"\uFFFD"));
  EXPECT_FALSE(header.GuidEquals(L""));
  const std::wstring map = sizeof(wchar_t) == 2 ? std::wstring(L"\xD83D\xDDFA") : std::wstring(1, wchar_t(0x1F5FA));
  EXPECT_TRUE(package::PackageHeader::Make(L"K" + map, L"", L"")->GuidEquals(L"K" + map));
  EXPECT_FALSE(package::PackageHeader::Make(L"K" + map, L"", L"")->GuidEquals(L"K"));
  EXPECT_FALSE(package::PackageHeader::Make(L"Kx", L"", L"")->GuidEquals(L"K"));

  TempDir dir;
  const std::wstring replacement = L"\uFFFD";
  PackageBytes bytes(L"x");
  bytes.bytes()[12] = 0x00;
  bytes.bytes()[13] = 0xD8;
#if defined(_WIN32)
  WriteAll(std::filesystem::path(package::BuildPackagePath(dir.Folder(), replacement)), bytes.bytes());
#else
  WriteAll(std::filesystem::path(text::ToUtf8(package::BuildPackagePath(dir.Folder(), replacement))), bytes.bytes());
#endif
  EXPECT_EQ(Check(dir, replacement), E_FAIL);
}

TEST(PackageHeader, MissingBufferOrFileFails) {
  platform::File closed;
  package::PackageHeader header;
  EXPECT_EQ(package::CheckPackageHeader(L"A", nullptr, &closed), E_FAIL);
  EXPECT_EQ(package::CheckPackageHeader(L"A", &header, nullptr), E_FAIL);
  EXPECT_EQ(package::CheckPackageHeader(L"A", &header, &closed), E_FAIL);
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
  ASSERT_TRUE(holder.Open(package::BuildPackagePath(dir.Folder(), L"Busy"), platform::File::Mode::kCreateReadWrite));
  EXPECT_EQ(Check(dir, L"Busy"), E_FAIL);
}

TEST(PackageHeader, ATextSlotWithoutNulIsReadToItsEnd) {
  package::PackageHeader header = *package::PackageHeader::Make(L"G", L"", L"");
  for (std::size_t i = 0; i < 100; ++i) {
    header.bytes[212 + 2 * i] = 'a';
    header.bytes[212 + 2 * i + 1] = 0;
  }
  EXPECT_EQ(header.TITLE(), std::wstring(100, L'a'));
}

TEST(PackageHeader, TextsMustFitTheirSlots) {
  EXPECT_TRUE(package::PackageHeader::Make(std::wstring(99, L'g'), std::wstring(99, L't'), std::wstring(255, L'd')));
  EXPECT_FALSE(package::PackageHeader::Make(std::wstring(100, L'g'), L"", L""));
  EXPECT_FALSE(package::PackageHeader::Make(L"g", L"", std::wstring(256, L'd')));
  EXPECT_TRUE(package::PackageFileRecord::Make(std::wstring(99, L'n'), std::wstring(258, L'f'), 0, 0, 0));
  EXPECT_FALSE(package::PackageFileRecord::Make(L"n", std::wstring(259, L'f'), 0, 0, 0));
}

TEST(PackageHeader, TextsKeepCharactersBeyondTheBasicPlane) {
  const std::wstring title =
      std::wstring(L"Karte ") + (sizeof(wchar_t) == 2 ? L"\xD83D\xDDFA" : L"\U0001F5FA") + L" \u00DF";
  const auto header = package::PackageHeader::Make(L"U", title, L"");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->TITLE(), title);
}

TEST(PackageHeader, PackagePathTakesTheFolderUnchanged) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(package::BuildPackagePath(L"karten" + sep, L"ABC"), L"karten" + sep + sep + L"ABC.nwq");
  EXPECT_EQ(package::BuildPackagePath(L"", L"a.b"), sep + L"a.b.nwq");
}

}  // namespace
